# One helper per kind of library: the sources are compiled once into an object
# library, which then makes both the shared object that users link and a static
# archive that the tests link, so that tests can reach what the shared object hides.
#
#   kel_library(NAME kelbase DEFINE KELBASE_BUILD DIRS core/base ... LINKS ...)
function(kel_library)
  cmake_parse_arguments(ARG "" "NAME;DEFINE" "SOURCES;INCLUDES;LINKS" ${ARGN})
  add_library(${ARG_NAME}_obj OBJECT ${ARG_SOURCES})
  target_compile_definitions(${ARG_NAME}_obj PRIVATE ${ARG_DEFINE})
  target_include_directories(${ARG_NAME}_obj PUBLIC ${ARG_INCLUDES})
  foreach(dep IN LISTS ARG_LINKS)
    target_link_libraries(${ARG_NAME}_obj PUBLIC ${dep}_obj)
  endforeach()

  # Installed, the headers come from one folder instead (cmake/install.cmake);
  # $ORIGIN lets libkelfile find its two siblings under any prefix.
  add_library(${ARG_NAME} SHARED $<TARGET_OBJECTS:${ARG_NAME}_obj>)
  target_include_directories(${ARG_NAME} PUBLIC "$<BUILD_INTERFACE:${ARG_INCLUDES}>")
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_LINKS})
  set_target_properties(${ARG_NAME} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN")

  add_library(${ARG_NAME}_static STATIC $<TARGET_OBJECTS:${ARG_NAME}_obj>)
  target_include_directories(${ARG_NAME}_static PUBLIC ${ARG_INCLUDES})
  foreach(dep IN LISTS ARG_LINKS)
    target_link_libraries(${ARG_NAME}_static PUBLIC ${dep}_static)
  endforeach()
endfunction()

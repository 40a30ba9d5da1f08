# Build settings and the helper that makes each library.
#
# Every compiler option is set on the targets that need it: kel_target()
# gives a target of this project the language level, the warnings and (when
# asked for) the sanitizers; nothing is added globally, so a project that adds
# this one as a subdirectory keeps its own settings.

add_library(kel_options INTERFACE)
target_compile_options(kel_options INTERFACE -Wall -Wextra -Wpedantic)
if(KELFILE_WERROR)
  target_compile_options(kel_options INTERFACE -Werror)
endif()
if(KELFILE_SANITIZE)
  target_compile_options(kel_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kel_options INTERFACE -fsanitize=address,undefined)
endif()

# Gives `target` C++20 without extensions, hidden symbols and the options above.
function(kel_target target)
  set_target_properties(${target} PROPERTIES
    CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:kel_options>)
endfunction()

# One library: its sources are compiled once into an object library, which
# then makes both the shared object that users link and a static archive that
# the tests link, so that tests can reach what the shared object hides.
#
#   kel_library(NAME kelbase
#     SOURCES a.cpp ../other/b.cpp          the library's own sources, listed one by one
#     PUBLIC_HEADERS a.hpp ../other/b.hpp   installed; their folders are the include path
#     PRIVATE_INCLUDES host                 folders of headers that stay inside
#     OBJECTS kelfilebuf                    object libraries compiled in as well
#     LINKS kelrt                           libraries whose headers this one's headers include
#     PRIVATE_LINKS kelbase)                libraries only its code uses
#
# The shared object offers its users the folders of its public headers only;
# the static archive offers the private folders too, for the tests. The list
# of public headers is kept in the target property KEL_PUBLIC_HEADERS.
function(kel_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;PUBLIC_HEADERS;PRIVATE_INCLUDES;OBJECTS;LINKS;PRIVATE_LINKS" ${ARGN})
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ REGEX "^[^/]")
  list(TRANSFORM ARG_PUBLIC_HEADERS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ REGEX "^[^/]")
  list(TRANSFORM ARG_PRIVATE_INCLUDES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ REGEX "^[^/]")
  set(public_includes)
  foreach(header IN LISTS ARG_PUBLIC_HEADERS)
    cmake_path(GET header PARENT_PATH folder)
    cmake_path(NORMAL_PATH folder)
    string(REGEX REPLACE "/$" "" folder "${folder}")
    list(APPEND public_includes ${folder})
  endforeach()
  list(REMOVE_DUPLICATES public_includes)

  add_library(${ARG_NAME}_obj OBJECT ${ARG_SOURCES} ${ARG_PUBLIC_HEADERS})
  kel_target(${ARG_NAME}_obj)
  set_target_properties(${ARG_NAME}_obj PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${ARG_NAME}_obj PUBLIC ${public_includes} PRIVATE ${ARG_PRIVATE_INCLUDES})
  target_compile_features(${ARG_NAME}_obj PUBLIC cxx_std_20)
  set(objects $<TARGET_OBJECTS:${ARG_NAME}_obj>)
  foreach(object IN LISTS ARG_OBJECTS)
    target_link_libraries(${ARG_NAME}_obj PRIVATE ${object})
    list(APPEND objects $<TARGET_OBJECTS:${object}>)
  endforeach()
  foreach(dep IN LISTS ARG_LINKS ARG_PRIVATE_LINKS)
    target_link_libraries(${ARG_NAME}_obj PUBLIC ${dep}_obj)
  endforeach()

  # Installed, the headers come from one folder instead (cmake/install.cmake);
  # $ORIGIN lets a library find its siblings under any prefix.
  add_library(${ARG_NAME} SHARED ${objects})
  kel_target(${ARG_NAME})
  target_include_directories(${ARG_NAME} PUBLIC "$<BUILD_INTERFACE:${public_includes}>")
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
  set_target_properties(${ARG_NAME} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} INSTALL_RPATH "$ORIGIN"
    KEL_PUBLIC_HEADERS "${ARG_PUBLIC_HEADERS}")

  add_library(${ARG_NAME}_static STATIC ${objects})
  kel_target(${ARG_NAME}_static)
  target_include_directories(${ARG_NAME}_static PUBLIC ${public_includes} ${ARG_PRIVATE_INCLUDES})
  foreach(dep IN LISTS ARG_LINKS ARG_PRIVATE_LINKS)
    target_link_libraries(${ARG_NAME}_static PUBLIC ${dep}_static)
  endforeach()
endfunction()

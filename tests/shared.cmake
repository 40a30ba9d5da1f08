# Tests of the shared objects themselves. None of them links kelfile_static
# into a program that also loads libkelfile.so: two copies of the classes.

# exports_test (made by the glob above) reads libkelfile.so and
# libkelfstream.so from disk.
target_compile_definitions(exports_test PRIVATE
  KELFILE_LIBRARY="$<TARGET_FILE:kelfile>"
  KELFSTREAM_LIBRARY="$<TARGET_FILE:kelfstream>"
  KELFILE_VERSION="${PROJECT_VERSION}"
  KELFILE_SOVERSION="${PROJECT_VERSION_MAJOR}")
add_dependencies(exports_test kelfile kelfstream)

# module_load_test loads and unloads the real libkelfile.so. It defines
# _CRT_init and _CRT_term itself, exported so that they come before the
# runtime's, to count the library's calls and pass them on.
add_executable(module_load_test
  ${CMAKE_CURRENT_SOURCE_DIR}/shared/module_load_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/tempdir.cpp)
kel_target(module_load_test)
target_include_directories(module_load_test PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/support ${PROJECT_SOURCE_DIR}/module)
target_link_libraries(module_load_test PRIVATE kelbase kelrt GTest::gtest_main ${CMAKE_DL_LIBS})
target_link_options(module_load_test PRIVATE
  "LINKER:--export-dynamic-symbol=_CRT_init,--export-dynamic-symbol=_CRT_term")
target_compile_definitions(module_load_test PRIVATE KELFILE_LIBRARY="$<TARGET_FILE:kelfile>")
add_dependencies(module_load_test kelfile)
add_test(NAME module_load_test COMMAND module_load_test)
set_tests_properties(module_load_test PROPERTIES TIMEOUT 900)

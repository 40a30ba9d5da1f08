# What `cmake --install` puts under the prefix: the four shared objects with
# their version links, the public headers in include/kelfile, a CMake package
# (find_package(kelfile CONFIG) gives kelfile::kelfile, kelfile::kelfstream,
# kelfile::kelbase and kelfile::kelrt) and kelfile.pc. The object and static libraries stay in the
# build: they are for the tests.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KELFILE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kelfile)
set(KELFILE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelfile)

# Every header that ifilestr.hpp, iostream.hpp (iostream.h), iomanip.hpp
# (iomanip.h) and fstream.hpp (fstream.h) bring in, the std::string operations, the exceptions a caller catches, and the runtime's
# start-up routines. The stream buffer's header comes along as the classic
# filebuf's base; its code, the host implementation and the module's insides
# are not part of the interface.
set(KELFILE_PUBLIC_HEADERS
  core/base/icnparse.hpp
  core/base/iexcept.hpp
  core/base/itext.hpp
  core/base/kbexport.hpp
  core/filesys/filebuf.hpp
  core/filesys/fsfilrec.hpp
  core/filesys/fsstream.hpp
  core/filesys/ifilestr.hpp
  core/filesys/ifilesys.hpp
  core/filesys/kfexport.hpp
  core/fstream/fstream.h
  core/fstream/fstream.hpp
  core/fstream/kfsexport.hpp
  core/streams/crt.hpp
  core/streams/iomanip.h
  core/streams/iomanip.hpp
  core/streams/ios.hpp
  core/streams/iostream.h
  core/streams/iostream.hpp
  core/streams/iostring.hpp
  core/streams/iowner.hpp
  core/streams/istream.hpp
  core/streams/krexport.hpp
  core/streams/ostream.hpp
  core/streams/stdstrm.hpp
  core/streams/streambuf.hpp)
list(TRANSFORM KELFILE_PUBLIC_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/)

foreach(library IN ITEMS kelbase kelrt kelfile kelfstream)
  # The headers need C++20; a consumer's target gets it from ours.
  target_compile_features(${library} PUBLIC cxx_std_20)
endforeach()

install(TARGETS kelbase kelrt kelfile kelfstream
  EXPORT kelfileTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${KELFILE_INSTALL_INCLUDEDIR})
install(FILES ${KELFILE_PUBLIC_HEADERS} DESTINATION ${KELFILE_INSTALL_INCLUDEDIR})

install(EXPORT kelfileTargets NAMESPACE kelfile:: DESTINATION ${KELFILE_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kelfileConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kelfileConfig.cmake
  INSTALL_DESTINATION ${KELFILE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelfileConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelfileConfig.cmake ${PROJECT_BINARY_DIR}/kelfileConfigVersion.cmake
  DESTINATION ${KELFILE_INSTALL_CMAKEDIR})

# kelfile.pc names the prefix when it is installed for a package (DESTDIR
# staging) or into /usr, where nothing is moved afterwards. Anywhere else it
# finds the prefix from its own place, so that it stays right under whatever
# prefix `cmake --install --prefix` chose and after the folder is moved. The
# choice waits for the install, which is when the prefix is known.
file(RELATIVE_PATH KELFILE_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KELFILE_PC_TO_PREFIX "${KELFILE_PC_TO_PREFIX}")
set(KELFILE_PC_PREFIX @KELFILE_PC_PREFIX@)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kelfile.pc.in ${PROJECT_BINARY_DIR}/kelfile.pc.in @ONLY)
install(CODE "set(kelfile_pc_to_prefix \"${KELFILE_PC_TO_PREFIX}\")
set(kelfile_pc_dir \"${PROJECT_BINARY_DIR}\")")
install(CODE [[
  if(NOT "$ENV{DESTDIR}" STREQUAL "" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(KELFILE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    set(KELFILE_PC_PREFIX "\${pcfiledir}/${kelfile_pc_to_prefix}")
  endif()
  configure_file(${kelfile_pc_dir}/kelfile.pc.in ${kelfile_pc_dir}/kelfile.pc @ONLY)
]])
install(FILES ${PROJECT_BINARY_DIR}/kelfile.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

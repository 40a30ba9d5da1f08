# What `cmake --install` puts under the prefix: the four shared objects with
# their version links; in include/kelfile the headers a program includes
# (the classic iostream.h, iomanip.h and fstream.h, and ifilestr.hpp,
# iostring.hpp, iexcept.hpp), the headers they are made of one folder below,
# in include/kelfile/kel, so that generic names such as ios.hpp never sit on
# a program's include path; a CMake package (find_package(kelfile CONFIG)
# gives kelfile::kelfile, kelfile::kelfstream, kelfile::kelrt and
# kelfile::kelbase); and a pkg-config file per use: kelfile.pc
# (IFileIOStream), kelfstream.pc (the classic file streams), kelrt.pc (the
# classic runtime alone). The object and static libraries stay in the build:
# they are for the tests.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KELFILE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kelfile)
set(KELFILE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelfile)

# Every header that ifilestr.hpp, iostream.hpp (iostream.h), iomanip.hpp
# (iomanip.h) and fstream.hpp (fstream.h) bring in, the std::string operations, the exceptions a caller catches, and the runtime's
# start-up routines. The stream buffer, the host implementation and the
# module's insides are not part of the interface.
set(KELFILE_PUBLIC_HEADERS
  core/base/icnparse.hpp
  core/base/iexcept.hpp
  core/base/itext.hpp
  core/base/kbexport.hpp
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

# The headers a program includes. Each is installed at the top as a one-line
# header that includes its namesake below: the headers there include one
# another by short names, which the compiler finds beside the includer.
set(KELFILE_ENTRY_HEADERS iostream.h iomanip.h fstream.h ifilestr.hpp iostring.hpp iexcept.hpp)
set(KELFILE_PRIVATE_FOLDER kel)
set(entry_headers)
foreach(header IN LISTS KELFILE_ENTRY_HEADERS)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/entry/${header} CONTENT
"// kelfile: the header of this name, which lives below with the headers it includes.
#pragma once
#include \"${KELFILE_PRIVATE_FOLDER}/${header}\"
")
  list(APPEND entry_headers ${PROJECT_BINARY_DIR}/entry/${header})
endforeach()

# The language level a consumer's target gets from ours: the classic headers
# build with C++11 (iostring.hpp's std::string_view needs C++17, which is
# g++'s default), IFileIOStream and the file objects need C++20.
target_compile_features(kelrt PUBLIC cxx_std_11)
target_compile_features(kelfstream PUBLIC cxx_std_11)
target_compile_features(kelbase PUBLIC cxx_std_20)
target_compile_features(kelfile PUBLIC cxx_std_20)

install(TARGETS kelbase kelrt kelfile kelfstream
  EXPORT kelfileTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${KELFILE_INSTALL_INCLUDEDIR})
install(FILES ${KELFILE_PUBLIC_HEADERS} DESTINATION ${KELFILE_INSTALL_INCLUDEDIR}/${KELFILE_PRIVATE_FOLDER})
install(FILES ${entry_headers} DESTINATION ${KELFILE_INSTALL_INCLUDEDIR})

install(EXPORT kelfileTargets NAMESPACE kelfile:: DESTINATION ${KELFILE_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kelfileConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kelfileConfig.cmake
  INSTALL_DESTINATION ${KELFILE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelfileConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelfileConfig.cmake ${PROJECT_BINARY_DIR}/kelfileConfigVersion.cmake
  DESTINATION ${KELFILE_INSTALL_CMAKEDIR})

# The .pc files name the prefix when they are installed for a package (DESTDIR
# staging) or into /usr, where nothing is moved afterwards. Anywhere else they
# find the prefix from their own place, so that they stay right under whatever
# prefix `cmake --install --prefix` chose and after the folder is moved. The
# choice waits for the install, which is when the prefix is known.
set(KELFILE_PC_NAMES kelfile kelfstream kelrt)
file(RELATIVE_PATH KELFILE_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KELFILE_PC_TO_PREFIX "${KELFILE_PC_TO_PREFIX}")
set(KELFILE_PC_PREFIX @KELFILE_PC_PREFIX@)
foreach(pc IN LISTS KELFILE_PC_NAMES)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc.in @ONLY)
endforeach()
install(CODE "set(kelfile_pc_to_prefix \"${KELFILE_PC_TO_PREFIX}\")
set(kelfile_pc_dir \"${PROJECT_BINARY_DIR}\")
set(kelfile_pc_names \"${KELFILE_PC_NAMES}\")")
install(CODE [[
  if(NOT "$ENV{DESTDIR}" STREQUAL "" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(KELFILE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    set(KELFILE_PC_PREFIX "\${pcfiledir}/${kelfile_pc_to_prefix}")
  endif()
  foreach(pc IN LISTS kelfile_pc_names)
    configure_file(${kelfile_pc_dir}/${pc}.pc.in ${kelfile_pc_dir}/${pc}.pc @ONLY)
  endforeach()
]])
list(TRANSFORM KELFILE_PC_NAMES PREPEND ${PROJECT_BINARY_DIR}/ OUTPUT_VARIABLE pc_files)
list(TRANSFORM pc_files APPEND .pc)
install(FILES ${pc_files} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

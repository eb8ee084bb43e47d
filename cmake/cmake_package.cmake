# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# The CMake package that every layout installs beside the program, in
# share/cmake/mavrid, where find_package(mavrid) finds it: the config, which
# finds the program three folders up at PROGRAM (or in bin/ there), its
# version file, and the script that runs a conversion at build time.  The
# version file does not ask for the consumer's pointer size: a 64-bit
# converter serves a build for a 32-bit microcontroller.
include(CMakePackageConfigHelpers)
function(mavrid_install_cmake_package program)
  set(MAVRID_PROGRAM "${program}")
  set(config ${PROJECT_BINARY_DIR}/cmake-package/mavrid-config.cmake)
  set(version ${PROJECT_BINARY_DIR}/cmake-package/mavrid-config-version.cmake)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/mavrid-config.cmake.in ${config} @ONLY)
  write_basic_package_version_file(${version} VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
  install(FILES ${config} ${version} ${PROJECT_SOURCE_DIR}/cmake/mavrid-convert.cmake
    DESTINATION share/cmake/mavrid)
endfunction()

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# The qualification kit: mavrid-validate, the requirements it judges, the
# safety manual and a README on running it, in one folder, packed as
# mavrid-<version>-qualification-linux-<arch>.tar.gz or -win64.zip.
if(NOT TARGET mavrid-validate)
  message(FATAL_ERROR "The qualification kit is built from the test suite: "
    "configure with BUILD_TESTING on and GoogleTest (MAVRID_GTEST_SOURCE)")
endif()

install(TARGETS mavrid-validate RUNTIME DESTINATION .)
install(FILES doc/requirements.md doc/safety-manual.md DESTINATION .)
install(FILES doc/qualification-kit.md DESTINATION . RENAME README.md)
# The SBOM and the notices: the validator carries GoogleTest and nlohmann's
# JSON library, the C and C++ runtimes, and on Linux OpenSSL's libcrypto.
set(CPACK_MAVRID_PROGRAMS
  "mavrid-validate${CMAKE_EXECUTABLE_SUFFIX}=${PROJECT_BINARY_DIR}/validate/mavrid-validate${CMAKE_EXECUTABLE_SUFFIX}.map")
set(CPACK_MAVRID_SOURCES_BUILT_IN googletest nlohmann-json3-dev)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_stage.cmake)
if(WIN32)
  include(cmake/windows_resources.cmake)
  mavrid_windows_resources(mavrid-validate "Validation of an installed mavrid")
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME qualification-win64)
else()
  target_link_options(mavrid-validate PRIVATE -static LINKER:--wrap=getaddrinfo)
  mavrid_link_libc_from(mavrid-validate)
  set(CPACK_STRIP_FILES ON) # the Windows one is linked stripped
  target_sources(mavrid-validate PRIVATE validate/static_glibc.cpp)
  set(CPACK_MAVRID_RELINK qualification-linux-${CMAKE_SYSTEM_PROCESSOR})
  install(FILES LICENSE DESTINATION .)
  include(cmake/tar_package_settings.cmake)
  set(CPACK_SYSTEM_NAME qualification-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
include(CPack)

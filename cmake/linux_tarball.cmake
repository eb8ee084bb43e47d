# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# A static Linux release: a static-pie mavrid for any Linux of its
# architecture, whatever C library it has, in a tarball
# mavrid-<version>-linux-<arch>.tar.gz with its manual, licence and README.

# A link library, so that it comes after CMake's own -pie, which it replaces.
target_link_libraries(mavrid PRIVATE -static-pie)
mavrid_link_libc_from(mavrid)

install(TARGETS mavrid RUNTIME DESTINATION .)
include(cmake/cmake_package.cmake)
mavrid_install_cmake_package(mavrid)
install(FILES doc/mavrid.1 LICENSE DESTINATION .)
install(FILES doc/tarball-README.md DESTINATION . RENAME README.md)

# The SBOM and the notices, with how to relink the C library it carries.
set(CPACK_MAVRID_PROGRAMS "mavrid=${PROJECT_BINARY_DIR}/mavrid.map")
set(CPACK_MAVRID_RELINK linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_stage.cmake)
include(cmake/tar_package_settings.cmake)
set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_STRIP_FILES ON)
include(CPack)

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# What cmake --install puts in place, and the Debian package and RPM of the
# same files: the program, its manual page, the licence and the changelog.
include(GNUInstallDirs)

# gzip -9n, as Debian asks: no name or time inside, the same bytes every build.
set(manual_gz ${PROJECT_BINARY_DIR}/mavrid.1.gz)
set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${manual_gz}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/mavrid.1 > ${manual_gz}
  DEPENDS doc/mavrid.1 VERBATIM)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/CHANGELOG > ${changelog_gz}
  DEPENDS CHANGELOG VERBATIM)
add_custom_target(compressed_docs ALL DEPENDS ${manual_gz} ${changelog_gz})

install(TARGETS mavrid RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
include(cmake/cmake_package.cmake)
mavrid_install_cmake_package(${CMAKE_INSTALL_BINDIR}/mavrid)
install(FILES ${manual_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog_gz} doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
include(cmake/publishing.cmake)
set(CPACK_PACKAGE_CONTACT "${MAVRID_CONTACT_NAME} <${MAVRID_CONTACT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert 16-bit Intel HEX files into Motorola S-record files")
set(CPACK_PACKAGE_DESCRIPTION
  "mavrid reads one Intel HEX file in its 16-bit form (data and end-of-file
records), verifies every record, and writes the same bytes at the same
addresses as one Motorola S-record file: an S0 header, S1 data records of
at most 30 bytes and an S9 termination record.  For firmware builds and
device programmers.")
set(CPACK_STRIP_FILES ON)
# The SBOM beside the copyright file; the program links in only start
# files, which carry no notice.  (Both packages stage under usr/.)
set(CPACK_MAVRID_PROGRAMS "usr/${CMAKE_INSTALL_BINDIR}/mavrid=${PROJECT_BINARY_DIR}/mavrid.map")
set(CPACK_MAVRID_DOC_DIR usr/${CMAKE_INSTALL_DOCDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_pack.cmake)

set(CPACK_DEBIAN_PACKAGE_SECTION embedded)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_SUMMARY
  "Convert 16-bit Intel HEX files into Motorola S-record files")
set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP Development/Tools)
set(CPACK_RPM_PACKAGE_VENDOR "The mavrid authors")
# The system's manual folders belong to the filesystem package.
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /usr/share/man /usr/share/man/man1)
# The licence and the SBOM stay under rpm --excludedocs.
set(CPACK_RPM_USER_FILELIST "%license /usr/share/doc/mavrid/copyright"
  "%license /usr/share/doc/mavrid/mavrid.spdx.json")
# Stripped and compressed already: rpmbuild would only give it a new time.
set(CPACK_RPM_SPEC_INSTALL_POST /bin/true)
# Reproducible: no host name, the build time SOURCE_DATE_EPOCH, no build-id links.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define _build_id_links none
%define packager ${CPACK_PACKAGE_CONTACT}")
include(CPack)

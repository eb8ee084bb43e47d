# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# mavrid.exe as a Windows release: its version resource and manifest, and
# one folder with the program, the licence, the README and the manual as
# HTML, packed as mavrid-<version>-win64.zip (or -win32) and, by
# cpack_pack.cmake, as the installer mavrid-<version>-win64.msi.
include(${CMAKE_CURRENT_LIST_DIR}/windows_resources.cmake)
mavrid_windows_resources(mavrid "16-bit Intel HEX to Motorola S-record converter")

# The manual page, for people without man, with a style sheet of our own.
find_program(MANDOC mandoc)
set(manual_html ${PROJECT_BINARY_DIR}/mavrid.html)
if(MANDOC)
  add_custom_command(OUTPUT ${manual_html}
    COMMAND ${MANDOC} -Thtml -Ostyle=mavrid.css ${PROJECT_SOURCE_DIR}/doc/mavrid.1 > ${manual_html}
    DEPENDS doc/mavrid.1 VERBATIM)
  add_custom_target(manual_html ALL DEPENDS ${manual_html})
else()
  message(WARNING "mandoc was not found (Debian: mandoc): the zip will lack the manual")
endif()

install(TARGETS mavrid RUNTIME DESTINATION .)
include(${CMAKE_CURRENT_LIST_DIR}/cmake_package.cmake)
mavrid_install_cmake_package(mavrid.exe)
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES doc/zip-README.md DESTINATION . RENAME README.md)
if(MANDOC)
  install(FILES ${manual_html} doc/mavrid.css DESTINATION .)
endif()

# The SBOM and the notices of MinGW-w64's and GCC's runtimes, linked in.
set(CPACK_MAVRID_PROGRAMS "mavrid.exe=${PROJECT_BINARY_DIR}/mavrid.exe.map")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_stage.cmake)

set(CPACK_GENERATOR ZIP External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/cpack_pack.cmake)
include(CPack)

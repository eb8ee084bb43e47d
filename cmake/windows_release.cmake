# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# mavrid.exe as a Windows release: its version resource and manifest
# (windows_resources.cmake), and a zip that cpack makes, laid out as
# Windows tools are: one folder with the program, the licence, the README
# and the manual page as HTML.
include(${CMAKE_CURRENT_LIST_DIR}/windows_resources.cmake)
mavrid_windows_resources(mavrid "16-bit Intel HEX to Motorola S-record converter")

# The manual page, rendered for people without man, with a style sheet
# of our own beside it.
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

# The SBOM and the notices (MinGW-w64's runtime and GCC's are linked in)
# beside the licence.
set(CPACK_MAVRID_PROGRAMS "mavrid.exe=${PROJECT_BINARY_DIR}/mavrid.exe.map")
set(CPACK_MAVRID_NOTICES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_stage.cmake)

# CPack's defaults name it mavrid-<version>-win64.zip (or -win32) and put
# everything in one folder of that name.  The same staged files make the
# installer, mavrid-<version>-win64.msi (or -win32), by cpack's External
# generator and tools/release.py.
set(CPACK_GENERATOR ZIP External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/cpack_pack.cmake)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_MAVRID_MSI_ARCH x64)
else()
  set(CPACK_MAVRID_MSI_ARCH x86)
endif()
include(CPack)

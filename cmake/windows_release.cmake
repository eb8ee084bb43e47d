# SPDX-License-Identifier: MIT
# mavrid.exe as a Windows release: a version resource and a manifest, no
# debug sections and no time stamp in Release builds (so that two builds of
# one commit are the same bytes), and a zip that cpack makes, laid out as
# Windows tools are: one folder with the program, the licence, the README
# and the manual page as HTML.
enable_language(RC)

# Windows version numbers have four parts: 0.1 is 0,1,0,0.  (Parts the
# project version lacks are empty and drop out of the list.)
set(version_parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR}
  ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK} 0 0)
list(SUBLIST version_parts 0 4 version_parts)
list(JOIN version_parts "." mavrid_windows_version)
list(JOIN version_parts "," mavrid_windows_version_commas)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE mavrid_copyright REGEX "^Copyright ")
string(APPEND mavrid_copyright ", MIT License")

set(mavrid_manifest ${PROJECT_BINARY_DIR}/mavrid.manifest)
configure_file(src/windows/mavrid.manifest.in ${mavrid_manifest} @ONLY)
configure_file(src/windows/mavrid.rc.in ${PROJECT_BINARY_DIR}/mavrid.rc @ONLY)
target_sources(mavrid PRIVATE ${PROJECT_BINARY_DIR}/mavrid.rc)
set_property(SOURCE ${PROJECT_BINARY_DIR}/mavrid.rc APPEND PROPERTY OBJECT_DEPENDS ${mavrid_manifest})

target_link_options(mavrid PRIVATE "$<$<CONFIG:Release>:-s;LINKER:--no-insert-timestamp>")

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
install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES README.md DESTINATION .)
if(MANDOC)
  install(FILES ${manual_html} doc/mavrid.css DESTINATION .)
endif()

# CPack's defaults name it mavrid-<version>-win64.zip (or -win32) and put
# everything in one folder of that name.
set(CPACK_GENERATOR ZIP)
include(CPack)

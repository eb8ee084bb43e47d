# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# What Windows knows of a program of ours: a version resource (version and
# licence, for Explorer and inventories) and its manifest (UTF-8 code page,
# long paths, as invoker); in Release, no debug sections and no time stamp.
enable_language(RC)

# Four numbers: 0.1 is 0,1,0,0 (the numbers the version lacks drop out).
set(version_numbers ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR}
  ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK} 0 0)
list(SUBLIST version_numbers 0 4 version_numbers)
list(JOIN version_numbers "." mavrid_windows_version)
list(JOIN version_numbers "," mavrid_windows_version_commas)
# REUSE-IgnoreStart: a pattern, not a notice
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE mavrid_copyright REGEX "^Copyright ")
# REUSE-IgnoreEnd
string(APPEND mavrid_copyright ", MIT License")

# mavrid_windows_resources(TARGET DESCRIPTION): TARGET.exe described so.
function(mavrid_windows_resources target description)
  set(program_name ${target})
  set(program_description ${description})
  set(mavrid_manifest ${PROJECT_BINARY_DIR}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/src/windows/mavrid.manifest.in ${mavrid_manifest} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/src/windows/mavrid.rc.in ${PROJECT_BINARY_DIR}/${target}.rc
    @ONLY)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/${target}.rc)
  set_property(SOURCE ${PROJECT_BINARY_DIR}/${target}.rc APPEND PROPERTY
    OBJECT_DEPENDS ${mavrid_manifest})
  target_link_options(${target} PRIVATE "$<$<CONFIG:Release>:-s;LINKER:--no-insert-timestamp>")
endfunction()

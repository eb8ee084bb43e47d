# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Write SHA256SUMS, in the current folder, for the release files that
# README's commands made in the build folders below it, and their SBOMs:
#
#   cmake -P cmake/checksums.cmake
#
# Each line is "HASH  NAME", the name without its folder, as sha256sum -c
# reads it beside the downloaded files.
cmake_minimum_required(VERSION 3.25)
set(patterns
  "build/mavrid_*.deb" "build/mavrid-*.rpm"
  "build-linux-*/mavrid-*-linux-*.tar.gz"
  "build-win*/mavrid-*-win*.zip" "build-win*/mavrid-*-win*.msi"
  "build-qualification-*/mavrid-*-qualification-*.tar.gz"
  "build-qualification-*/mavrid-*-qualification-*.zip"
  "mavrid-*.tar.gz")
set(files "")
foreach(pattern IN LISTS patterns)
  file(GLOB found "${pattern}")
  foreach(file IN LISTS found)
    list(APPEND files "${file}")
    if(EXISTS "${file}.spdx.json")
      list(APPEND files "${file}.spdx.json")
    endif()
  endforeach()
endforeach()
if(NOT files)
  message(FATAL_ERROR "no release files here: make the packages first (README.md)")
endif()
set(sums "")
set(names "")
foreach(file IN LISTS files)
  cmake_path(GET file FILENAME name)
  if(name IN_LIST names)
    message(FATAL_ERROR "two release files named ${name}")
  endif()
  list(APPEND names "${name}")
  file(SHA256 "${file}" hash)
  set(line_of_${name} "${hash}  ${name}\n")
endforeach()
list(SORT names)
foreach(name IN LISTS names)
  string(APPEND sums "${line_of_${name}}")
endforeach()
file(WRITE SHA256SUMS "${sums}")
list(LENGTH names count)
message(STATUS "SHA256SUMS: ${count} files")

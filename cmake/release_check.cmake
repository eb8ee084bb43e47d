# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Say what stands between this tree and a published release, and sign the
# checksums when nothing does:
#
#   cmake [-DMAVRID_SIGNING_KEY=key.pem] -P cmake/release_check.cmake
#
# run at the top of the tree once the release files and SHA256SUMS are
# made (README).  It lists every blocker, the placeholder contact first,
# and fails while there is any.  With a private key (OpenSSL's PEM, such
# as an Ed25519 key from "openssl genpkey -algorithm ed25519"), it then
# writes SHA256SUMS.sig, a detached signature that
#
#   openssl pkeyutl -verify -pubin -inkey mavrid-release.pub -rawin -in SHA256SUMS -sigfile SHA256SUMS.sig
#
# checks against the public key published with the project.
cmake_minimum_required(VERSION 3.25)
get_filename_component(top "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include("${top}/cmake/publishing.cmake")
file(STRINGS "${top}/CMakeLists.txt" project_line REGEX "^project\\(mavrid VERSION ")
string(REGEX REPLACE "^project\\(mavrid VERSION ([0-9.]+).*$" "\\1" version "${project_line}")
set(blockers "")
function(blocker)
  string(CONCAT line ${ARGV})
  set(blockers ${blockers} "${line}" PARENT_SCOPE)
endfunction()

# The contact must receive mail: not a domain reserved never to resolve.
set(contact "${MAVRID_CONTACT_NAME} <${MAVRID_CONTACT_EMAIL}>")
if(MAVRID_CONTACT_EMAIL MATCHES "(\\.invalid|\\.example|\\.test|\\.localhost|@example\\.(com|net|org))$"
   OR NOT MAVRID_CONTACT_EMAIL MATCHES "^[^@ ]+@[^@ ]+\\.[^@ ]+$")
  blocker("the project's contact, ${MAVRID_CONTACT_EMAIL}, is a placeholder that no mail reaches: "
    "set MAVRID_CONTACT_EMAIL in cmake/publishing.cmake to an address that receives "
    "vulnerability reports, and SECURITY.md, CHANGELOG, .reuse/dep5 and doc/copyright to the same")
endif()
foreach(file SECURITY.md CHANGELOG .reuse/dep5 doc/copyright)
  file(READ "${top}/${file}" text)
  string(FIND "${text}" "${MAVRID_CONTACT_EMAIL}" at)
  if(at EQUAL -1)
    blocker("${file} does not name the project's contact, ${MAVRID_CONTACT_EMAIL}")
  endif()
endforeach()
file(READ "${top}/SECURITY.md" security)
if(NOT security MATCHES "\\| ${version} [^|]*\\| yes \\|")
  blocker("SECURITY.md's table of versions does not give ${version} fixes")
endif()
if(security MATCHES "not yet published")
  blocker("SECURITY.md says ${version} is not yet published: say where it is")
endif()
if(NOT MAVRID_DOWNLOAD_URL)
  blocker("no download location: set MAVRID_DOWNLOAD_URL in cmake/publishing.cmake to the "
    "folder the release files are published in, so that every SBOM names it")
endif()

# The checksums, made and checked, and signed: with a key given, whatever
# else stands in the way.
if(MAVRID_SIGNING_KEY AND EXISTS "${top}/SHA256SUMS")
  execute_process(COMMAND openssl pkeyutl -sign -inkey "${MAVRID_SIGNING_KEY}" -rawin
      -in "${top}/SHA256SUMS" -out "${top}/SHA256SUMS.sig"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "SHA256SUMS could not be signed with ${MAVRID_SIGNING_KEY}")
  endif()
  message(STATUS "SHA256SUMS.sig: SHA256SUMS signed with ${MAVRID_SIGNING_KEY}")
endif()
if(NOT EXISTS "${top}/SHA256SUMS")
  blocker("no SHA256SUMS: make the release files and run cmake -P cmake/checksums.cmake (README)")
else()
  file(STRINGS "${top}/SHA256SUMS" sums)
  list(LENGTH sums count)
  foreach(line IN LISTS sums)
    if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
      blocker("SHA256SUMS: a line that is no checksum: ${line}")
      continue()
    endif()
    set(hash "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    file(GLOB_RECURSE here LIST_DIRECTORIES false "${top}/${name}" "${top}/build*/${name}")
    list(GET here 0 file)
    if(NOT here)
      blocker("SHA256SUMS names ${name}, which is not here")
    else()
      file(SHA256 "${file}" actual)
      if(NOT actual STREQUAL hash)
        blocker("${name} is not what SHA256SUMS says: make SHA256SUMS again")
      endif()
    endif()
  endforeach()
  if(NOT EXISTS "${top}/SHA256SUMS.sig")
    blocker("SHA256SUMS is not signed: run this check again with -DMAVRID_SIGNING_KEY=<private key>")
  endif()
endif()

if(blockers)
  list(LENGTH blockers count)
  set(text "")
  foreach(line IN LISTS blockers)
    string(APPEND text "\n  - ${line}")
  endforeach()
  message(FATAL_ERROR "mavrid ${version} cannot be published yet; ${count} thing(s) stand in the way:${text}")
endif()
message(STATUS "mavrid ${version}: nothing stands in the way of publishing it")

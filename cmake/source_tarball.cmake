# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Make the source tarball of this commit, as README says, with its SBOM:
#
#   cmake -P cmake/source_tarball.cmake
#
# writes mavrid-<version>.tar.gz in the current folder (or TARBALL, given
# with -DTARBALL=path), holding the tracked files under mavrid-<version>/
# and mavrid.spdx.json beside them, and the same SBOM beside the tarball
# as mavrid-<version>.tar.gz.spdx.json.  The SBOM names the source, its
# licence and where it is published; it cannot hold the tarball's own
# SHA-256, which SHA256SUMS and every package's SBOM give.  The same bytes
# from every clone of one commit: git archive takes every time stamp from
# the commit and, told so, gives every file mode 644 whatever git is
# configured with, and the SBOM's time is SOURCE_DATE_EPOCH, or else the
# commit's.
cmake_minimum_required(VERSION 3.25)
get_filename_component(top "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
include("${top}/cmake/publishing.cmake")
file(STRINGS "${top}/CMakeLists.txt" project_line REGEX "^project\\(mavrid VERSION ")
string(REGEX REPLACE "^project\\(mavrid VERSION ([0-9.]+).*$" "\\1" version "${project_line}")
set(name "mavrid-${version}.tar.gz")
if(NOT TARBALL)
  set(TARBALL "${CMAKE_CURRENT_BINARY_DIR}/${name}")
endif()

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${top}" log -1 --format=%ct
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
endif()
string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)
file(READ "${top}/LICENSE" licence_text)
# REUSE-IgnoreStart: a pattern, not a notice
string(REGEX MATCH "Copyright \\(c\\) [^\n]+" copyright "${licence_text}")
# REUSE-IgnoreEnd
set(download "NOASSERTION")
if(MAVRID_DOWNLOAD_URL)
  set(download "${MAVRID_DOWNLOAD_URL}/${name}")
endif()
set(supplier "Organization: ${MAVRID_CONTACT_NAME} (${MAVRID_CONTACT_EMAIL})")
set(json "{
  \"spdxVersion\": \"SPDX-2.3\",
  \"dataLicense\": \"CC0-1.0\",
  \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": \"${name}\",
  \"documentNamespace\": \"@namespace@\",
  \"creationInfo\": {
    \"created\": \"${created}\",
    \"creators\": [\"Organization: ${MAVRID_CONTACT_NAME}\", \"Tool: mavrid cmake/source_tarball.cmake-${version}\"]
  },
  \"documentDescribes\": [\"SPDXRef-Package-source\"],
  \"packages\": [
    {
      \"SPDXID\": \"SPDXRef-Package-source\",
      \"name\": \"mavrid\",
      \"versionInfo\": \"${version}\",
      \"packageFileName\": \"${name}\",
      \"supplier\": \"${supplier}\",
      \"downloadLocation\": \"${download}\",
      \"filesAnalyzed\": false,
      \"comment\": \"The source of mavrid: every file tracked in its repository at this release's commit.  Its SHA-256 is in SHA256SUMS beside it, and in the SBOM of every package built from it.\",
      \"licenseConcluded\": \"MIT\",
      \"licenseDeclared\": \"MIT\",
      \"copyrightText\": \"${copyright}\",
      \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\", \"referenceLocator\": \"pkg:generic/mavrid@${version}?file_name=${name}\"}],
      \"primaryPackagePurpose\": \"SOURCE\"
    }
  ],
  \"relationships\": [
    {\"spdxElementId\": \"SPDXRef-DOCUMENT\", \"relationshipType\": \"DESCRIBES\", \"relatedSpdxElement\": \"SPDXRef-Package-source\"}
  ]
}
")
string(SHA256 content "${json}")
# Under the download location once there is one; a URI of no resolving
# domain until then, which SPDX allows (it need be unique, not reachable).
set(namespace_base "https://mavrid.invalid/spdx")
if(MAVRID_DOWNLOAD_URL)
  set(namespace_base "${MAVRID_DOWNLOAD_URL}/spdx")
endif()
string(REPLACE "@namespace@" "${namespace_base}/${name}-${content}" json "${json}")

# git archive adds a file with its own mode, so the SBOM is written 644
# first, in a folder of its own.
set(modes OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(work "${TARBALL}.sbom")
file(REMOVE_RECURSE "${work}")
file(WRITE "${work}/mavrid.spdx.json" "${json}")
file(CHMOD "${work}/mavrid.spdx.json" PERMISSIONS ${modes})
execute_process(COMMAND git -C "${top}" -c tar.umask=0022 archive --format=tar.gz --prefix=mavrid-${version}/
    --add-file=${work}/mavrid.spdx.json -o "${TARBALL}" HEAD
  COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${work}/mavrid.spdx.json" "${TARBALL}.spdx.json")
file(REMOVE_RECURSE "${work}")
message(STATUS "source tarball: ${TARBALL}")

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on the staged files, before they are packed: writes what the
# release file says about itself.
#
#   - an SPDX 2.3 document (JSON) that names mavrid with its version,
#     licence and source (the source tarball's SHA-256), each program in
#     the package with its checksums, and every component linked into it
#     with its version, licence and source, read from the link map the
#     linker wrote and from the Debian packages that hold each file the
#     map names;
#   - for a package whose program carries other code, the third-party
#     notices: those components, their licences and sources, and their
#     copyright files and licence texts as Debian ships them.
#
# Both go into the package beside the licence and into the build folder
# beside the package.  They are the same bytes from every build of one
# commit: the time is SOURCE_DATE_EPOCH (package_time.cmake sets it), and
# the document's namespace is made from the source's SHA-256.
#
# The package says what it is in CPACK_MAVRID_* variables:
#   SOURCE_DIR, VERSION  the project's source folder and version
#   PROGRAMS             for each program in the package, PATH=MAP: its path
#                        in the package and the link map of its build
#   SOURCES_BUILT_IN     Debian packages whose sources were compiled into a
#                        program (GoogleTest, into the validator)
#   DOC_DIR              where in the package the files go
#   NOTICES              ON to write THIRD-PARTY-NOTICES.txt
#   RELINK               for a program linked with the C library
#                        statically, the preset that builds it again, for
#                        the notices to say how to relink it
#   OBJDUMP              the toolchain's objdump, for what a program loads
#   BESIDE_DIR           the build folder that the package goes into

cmake_minimum_required(VERSION 3.25)
set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(version "${CPACK_MAVRID_VERSION}")

# The release file's name, as each generator makes it.
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(release "${CPACK_PACKAGE_NAME}_${version}_${arch}.deb")
elseif(CPACK_GENERATOR STREQUAL "RPM")
  execute_process(COMMAND uname -m OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  set(release "${CPACK_PACKAGE_NAME}-${version}-1.${arch}.rpm")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(release "${CPACK_PACKAGE_FILE_NAME}.zip")
else()
  set(release "${CPACK_PACKAGE_FILE_NAME}.tar.gz")
endif()

# A JSON string.
function(json_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# An SPDX identifier for a Debian package: letters, digits, "." and "-".
function(package_id out package)
  string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" id "${package}")
  set(${out} "SPDXRef-Package-${id}" PARENT_SCOPE)
endfunction()

# The source: what README's command makes of this commit, hashed.
set(source_sha256 "")
execute_process(COMMAND git -C "${CPACK_MAVRID_SOURCE_DIR}" archive --format=tar.gz
    --prefix=mavrid-${version}/ HEAD
  OUTPUT_FILE "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz" RESULT_VARIABLE no_git ERROR_QUIET)
set(source_note "")
if(NOT no_git)
  file(SHA256 "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz" source_sha256)
  execute_process(COMMAND git -C "${CPACK_MAVRID_SOURCE_DIR}" status --porcelain
    --untracked-files=no OUTPUT_VARIABLE changes)
  if(changes)
    set(source_note "The programs were built from a working tree with changes not yet committed, so not from this source alone.")
  endif()
endif()
file(REMOVE "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz")

# The files each link map names as linked in: the archive members pulled
# in, the objects given whole, and (checked against what the program
# loads) the shared libraries.
set(linked_static "")
set(linked_dynamic "")
foreach(entry IN LISTS CPACK_MAVRID_PROGRAMS)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 path)
  list(GET entry 1 map)
  set(needed "")
  if(CPACK_MAVRID_OBJDUMP)
    execute_process(COMMAND "${CPACK_MAVRID_OBJDUMP}" -p "${staged}/${path}"
      OUTPUT_VARIABLE headers ERROR_QUIET)
    string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
    list(TRANSFORM needed REPLACE "NEEDED +" "")
  endif()
  file(STRINGS "${map}" lines)
  set(section "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Archive member included")
      set(section members)
    elseif(line MATCHES "^(Discarded input sections|Memory Configuration|Allocating common)")
      set(section "")
    elseif(section STREQUAL "members" AND line MATCHES "^(/[^ (]+\\.a)\\(")
      list(APPEND linked_static "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^LOAD (/.+\\.(o|obj))$")
      # (the link-time optimizer's own objects are gone by now)
      if(EXISTS "${CMAKE_MATCH_1}")
        list(APPEND linked_static "${CMAKE_MATCH_1}")
      endif()
    elseif(line MATCHES "^LOAD (/.+/([^/]+\\.so[.0-9]*))$")
      set(library "${CMAKE_MATCH_1}")
      if(CMAKE_MATCH_2 IN_LIST needed)
        list(APPEND linked_dynamic "${library}")
      endif()
    endif()
  endforeach()
endforeach()

# Each file's Debian package, asked of dpkg once for all of them.  dpkg
# knows a file by the path its package gives, so each is asked for as
# named (without ".."), as resolved, and with /usr added or taken away.
set(owner_of "")
set(asked "")
foreach(file IN LISTS linked_static linked_dynamic)
  cmake_path(NORMAL_PATH file OUTPUT_VARIABLE plain)
  file(REAL_PATH "${file}" real)
  foreach(candidate "${plain}" "${real}")
    list(APPEND asked "${candidate}")
    if(candidate MATCHES "^/usr(/.*)$")
      list(APPEND asked "${CMAKE_MATCH_1}")
    else()
      list(APPEND asked "/usr${candidate}")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES asked)
set(found "")
if(asked)
  execute_process(COMMAND dpkg -S ${asked} OUTPUT_VARIABLE found ERROR_QUIET)
endif()
string(REPLACE "\n" ";" found "${found}")
set(packages_static "")
set(packages_dynamic "")
foreach(kind static dynamic)
  foreach(file IN LISTS linked_${kind})
    cmake_path(NORMAL_PATH file OUTPUT_VARIABLE plain)
    file(REAL_PATH "${file}" real)
    string(REGEX REPLACE "^/usr" "" bare_plain "${plain}")
    string(REGEX REPLACE "^/usr" "" bare_real "${real}")
    set(owner "")
    foreach(line IN LISTS found)
      if(line MATCHES "^([^:, ]+)(:[a-z0-9]+)?: (.+)$")
        set(package "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "^/usr" "" bare "${CMAKE_MATCH_3}")
        if(bare STREQUAL bare_plain OR bare STREQUAL bare_real)
          set(owner "${package}")
          break()
        endif()
      endif()
    endforeach()
    if(owner STREQUAL "")
      message(FATAL_ERROR "sbom: no Debian package holds ${file}, which is linked into the "
        "program: the SBOM cannot name it")
    endif()
    list(APPEND packages_${kind} "${owner}")
  endforeach()
  list(REMOVE_DUPLICATES packages_${kind})
endforeach()
list(APPEND packages_static ${CPACK_MAVRID_SOURCES_BUILT_IN})
list(REMOVE_DUPLICATES packages_static)
list(SORT packages_static)
list(SORT packages_dynamic)

# The licence of each kind of component, as its Debian copyright file
# declares it for what programs link of it.
function(licence_of out package)
  if(package MATCHES "^libc6(-dev)?(-[a-z0-9]+-cross)?$")
    set(licence "LGPL-2.1-or-later")
  elseif(package MATCHES "^(lib(gcc|stdc\\+\\+)-[0-9]+-dev|libgcc-s1|(gcc|g\\+\\+)-mingw-w64-.*)(-[a-z0-9]+-cross)?$")
    set(licence "GPL-3.0-or-later WITH GCC-exception-3.1")
  elseif(package MATCHES "^mingw-w64-")
    set(licence "ZPL-2.1")
  elseif(package MATCHES "^libssl")
    set(licence "Apache-2.0")
  elseif(package STREQUAL "googletest")
    set(licence "BSD-3-Clause")
  else()
    set(licence "NOASSERTION")
  endif()
  set(${out} "${licence}" PARENT_SCOPE)
endfunction()

# What dpkg knows of each component.
set(components ${packages_static} ${packages_dynamic})
list(REMOVE_DUPLICATES components)
foreach(package IN LISTS components)
  execute_process(COMMAND dpkg-query -W
      "-f=\${Version}\n\${source:Package}\n\${source:Version}\n\${Architecture}" "${package}"
    OUTPUT_VARIABLE facts COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" facts "${facts}")
  list(GET facts 0 ${package}_version)
  list(GET facts 1 ${package}_source)
  list(GET facts 2 ${package}_source_version)
  list(GET facts 3 ${package}_arch)
  licence_of(${package}_licence "${package}")
endforeach()

string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)
set(licences "MIT")
foreach(package IN LISTS packages_static)
  if(NOT ${package}_licence STREQUAL "NOASSERTION")
    list(APPEND licences "${${package}_licence}")
  endif()
endforeach()
list(REMOVE_DUPLICATES licences)
list(JOIN licences " AND " program_licence)
if(NOT program_licence STREQUAL "MIT")
  set(program_licence "MIT AND ${program_licence}")
  string(REPLACE "MIT AND MIT AND" "MIT AND" program_licence "${program_licence}")
endif()
file(READ "${CPACK_MAVRID_SOURCE_DIR}/LICENSE" licence_text)
string(REGEX MATCH "Copyright \\(c\\) [^\n]+" copyright "${licence_text}")

# The document, field by field, in a fixed order.
json_string(j_release "${release}")
json_string(j_copyright "${copyright}")
json_string(j_program_licence "${program_licence}")
set(namespace_key "${source_sha256}")
if(namespace_key STREQUAL "")
  set(namespace_key "no-git-${version}")
endif()
set(json "{
  \"spdxVersion\": \"SPDX-2.3\",
  \"dataLicense\": \"CC0-1.0\",
  \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": ${j_release},
  \"documentNamespace\": \"https://mavrid.invalid/spdx/${release}-${namespace_key}\",
  \"creationInfo\": {
    \"created\": \"${created}\",
    \"creators\": [\"Organization: The mavrid authors\", \"Tool: mavrid cmake/sbom.cmake-${version}\"]
  },
  \"documentDescribes\": [\"SPDXRef-Package-release\"],
  \"packages\": [
    {
      \"SPDXID\": \"SPDXRef-Package-release\",
      \"name\": \"mavrid\",
      \"versionInfo\": \"${version}\",
      \"packageFileName\": ${j_release},
      \"supplier\": \"Organization: The mavrid authors\",
      \"downloadLocation\": \"NOASSERTION\",
      \"filesAnalyzed\": false,
      \"licenseConcluded\": ${j_program_licence},
      \"licenseDeclared\": \"MIT\",
      \"copyrightText\": ${j_copyright},
      \"primaryPackagePurpose\": \"APPLICATION\"
    },
    {
      \"SPDXID\": \"SPDXRef-Package-source\",
      \"name\": \"mavrid\",
      \"versionInfo\": \"${version}\",
      \"packageFileName\": \"mavrid-${version}.tar.gz\",
      \"supplier\": \"Organization: The mavrid authors\",
      \"downloadLocation\": \"NOASSERTION\",
      \"filesAnalyzed\": false,")
if(source_sha256)
  string(APPEND json "
      \"checksums\": [{\"algorithm\": \"SHA256\", \"checksumValue\": \"${source_sha256}\"}],")
  if(source_note)
    string(APPEND json "
      \"comment\": \"${source_note}\",")
  endif()
else()
  string(APPEND json "
      \"comment\": \"Built from a folder without git history: the source tarball's SHA-256 is not known here.\",")
endif()
string(APPEND json "
      \"licenseConcluded\": \"MIT\",
      \"licenseDeclared\": \"MIT\",
      \"copyrightText\": ${j_copyright},
      \"primaryPackagePurpose\": \"SOURCE\"
    }")
foreach(package IN LISTS components)
  json_string(j_licence "${${package}_licence}")
  string(REPLACE "+" "%2B" purl_version "${${package}_version}")
  package_id(id "${package}")
  string(APPEND json ",
    {
      \"SPDXID\": \"${id}\",
      \"name\": \"${package}\",
      \"versionInfo\": \"${${package}_version}\",
      \"supplier\": \"Organization: Debian\",
      \"downloadLocation\": \"https://snapshot.debian.org/package/${${package}_source}/${${package}_source_version}/\",
      \"filesAnalyzed\": false,
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": ${j_licence},
      \"copyrightText\": \"NOASSERTION\",
      \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\", \"referenceLocator\": \"pkg:deb/debian/${package}@${purl_version}?arch=${${package}_arch}\"}],
      \"primaryPackagePurpose\": \"LIBRARY\"
    }")
endforeach()
string(APPEND json "
  ],
  \"files\": [")
set(relationships "
    {\"spdxElementId\": \"SPDXRef-DOCUMENT\", \"relationshipType\": \"DESCRIBES\", \"relatedSpdxElement\": \"SPDXRef-Package-release\"}")
set(first ON)
foreach(entry IN LISTS CPACK_MAVRID_PROGRAMS)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 path)
  cmake_path(GET path FILENAME name)
  string(MAKE_C_IDENTIFIER "${name}" id)
  string(REPLACE "_" "-" id "${id}")
  file(SHA256 "${staged}/${path}" sha256)
  file(SHA1 "${staged}/${path}" sha1)
  if(NOT first)
    string(APPEND json ",")
  endif()
  set(first OFF)
  string(APPEND json "
    {
      \"SPDXID\": \"SPDXRef-File-${id}\",
      \"fileName\": \"./${path}\",
      \"fileTypes\": [\"BINARY\"],
      \"checksums\": [{\"algorithm\": \"SHA1\", \"checksumValue\": \"${sha1}\"}, {\"algorithm\": \"SHA256\", \"checksumValue\": \"${sha256}\"}],
      \"licenseConcluded\": ${j_program_licence},
      \"copyrightText\": ${j_copyright}
    }")
  string(APPEND relationships ",
    {\"spdxElementId\": \"SPDXRef-Package-release\", \"relationshipType\": \"CONTAINS\", \"relatedSpdxElement\": \"SPDXRef-File-${id}\"},
    {\"spdxElementId\": \"SPDXRef-File-${id}\", \"relationshipType\": \"GENERATED_FROM\", \"relatedSpdxElement\": \"SPDXRef-Package-source\"}")
  foreach(kind STATIC DYNAMIC)
    string(TOLOWER "${kind}" list)
    foreach(package IN LISTS packages_${list})
      package_id(component "${package}")
      string(APPEND relationships ",
    {\"spdxElementId\": \"SPDXRef-File-${id}\", \"relationshipType\": \"${kind}_LINK\", \"relatedSpdxElement\": \"${component}\"}")
    endforeach()
  endforeach()
endforeach()
string(APPEND json "
  ],
  \"relationships\": [${relationships}
  ]
}
")

set(into "${staged}/${CPACK_MAVRID_DOC_DIR}")
file(WRITE "${into}/mavrid.spdx.json" "${json}")
file(WRITE "${CPACK_MAVRID_BESIDE_DIR}/${release}.spdx.json" "${json}")

if(NOT CPACK_MAVRID_NOTICES)
  return()
endif()

# The notices: a summary, then each component's copyright file and the
# licence texts they refer to, as Debian ships them.
set(notices "Third-party notices for ${release}

The programs in this package are mavrid's (MIT licence, in LICENSE), and
also carry code of the components below, linked into them when they were
built.  Each is named with its Debian package, its version and licence,
and where its source is.  The copyright file of each, as Debian ships it,
and the texts of the licences they refer to follow.
")
foreach(package IN LISTS packages_static)
  string(APPEND notices "
- ${package} ${${package}_version}: ${${package}_licence}
  source: https://snapshot.debian.org/package/${${package}_source}/${${package}_source_version}/")
endforeach()
string(APPEND notices "\n")
if(CPACK_MAVRID_RELINK)
  string(APPEND notices "
The GNU C Library is linked into the program statically.  Its licence, the
LGPL, lets you replace it: mavrid's whole source is the source tarball
mavrid-${version}.tar.gz (SHA-256 ${source_sha256}),
which builds and links this program with the commands of its README:

    cmake --preset ${CPACK_MAVRID_RELINK} && cmake --build --preset ${CPACK_MAVRID_RELINK}

Install the C library you want to link with (its static libc.a) where the
compiler finds it, or give its folder with -DCMAKE_EXE_LINKER_FLAGS=-L...,
and run them again.
")
endif()
set(common_licences "")
foreach(package IN LISTS packages_static)
  set(copyright_file "/usr/share/doc/${package}/copyright")
  if(NOT EXISTS "${copyright_file}")
    message(FATAL_ERROR "sbom: ${package} has no ${copyright_file} for the notices")
  endif()
  file(READ "${copyright_file}" text)
  string(APPEND notices "
======================================================================
${package} ${${package}_version}: ${copyright_file}
======================================================================

${text}")
  string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]" referred "${text}")
  list(APPEND common_licences ${referred})
endforeach()
list(REMOVE_DUPLICATES common_licences)
list(SORT common_licences)
foreach(licence IN LISTS common_licences)
  if(EXISTS "${licence}")
    file(READ "${licence}" text)
    string(APPEND notices "
======================================================================
${licence}
======================================================================

${text}")
  endif()
endforeach()
file(WRITE "${into}/THIRD-PARTY-NOTICES.txt" "${notices}")

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on the staged files, before they are packed: writes what the
# release file says about itself.
#
#   - an SPDX 2.3 document (JSON) that names mavrid with its version,
#     licence, purl and source (the source tarball's SHA-256), each program
#     in the package with its checksums, and every component linked into
#     it with its version, licence, purl and source, read from the link map
#     the linker wrote and from the Debian packages that hold each file the
#     map names; and what each program loads from the system that runs it
#     (the C library it needs, the DLLs it imports);
#   - for a package whose program carries other code, the third-party
#     notices: those components, their licences and sources, and their
#     copyright files and licence texts as Debian ships them.
#
# A component is named as the advisories that concern it name it: by the
# Debian package it was taken from, or, where that is a cross or wrapper
# package built from another source's code (libc6-dev-arm64-cross from
# glibc's, gcc-mingw-w64-* from gcc-12's: dpkg's Built-Using says which),
# by that source package.
#
# Both go into the package beside the licence and into the build folder
# beside the package.  They are the same bytes from every build of one
# commit, under any umask: the time is SOURCE_DATE_EPOCH (package_time.cmake
# sets it), the document's namespace is made from its content, and the
# files are mode 644.
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
include("${CPACK_MAVRID_SOURCE_DIR}/cmake/publishing.cmake")

# The release file's name, as each generator makes it, and its purl.
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(release "${CPACK_PACKAGE_NAME}_${version}_${arch}.deb")
  set(release_purl "pkg:deb/mavrid/mavrid@${version}?arch=${arch}")
elseif(CPACK_GENERATOR STREQUAL "RPM")
  execute_process(COMMAND uname -m OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  set(release "${CPACK_PACKAGE_NAME}-${version}-1.${arch}.rpm")
  set(release_purl "pkg:rpm/mavrid/mavrid@${version}-1?arch=${arch}")
else()
  if(CPACK_GENERATOR STREQUAL "ZIP")
    set(release "${CPACK_PACKAGE_FILE_NAME}.zip")
  elseif(CPACK_GENERATOR STREQUAL "External" AND CPACK_MAVRID_MSI_ARCH)
    set(release "${CPACK_PACKAGE_FILE_NAME}.msi")
  else()
    set(release "${CPACK_PACKAGE_FILE_NAME}.tar.gz")
  endif()
  set(release_purl "pkg:generic/mavrid@${version}?file_name=${release}")
endif()
set(download "NOASSERTION")
set(source_download "NOASSERTION")
if(MAVRID_DOWNLOAD_URL)
  set(download "${MAVRID_DOWNLOAD_URL}/${release}")
  set(source_download "${MAVRID_DOWNLOAD_URL}/mavrid-${version}.tar.gz")
endif()

# A JSON string.
function(json_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# An SPDX identifier for a component: letters, digits, "." and "-".
function(package_id out name)
  string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" id "${name}")
  set(${out} "SPDXRef-Package-${id}" PARENT_SCOPE)
endfunction()

# A Debian version as a purl writes it.
function(purl_version out text)
  string(REPLACE "%" "%25" text "${text}")
  string(REPLACE "+" "%2B" text "${text}")
  string(REPLACE ":" "%3A" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The Debian release the components come from, for their purls.
set(distro "")
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release codename REGEX "^VERSION_CODENAME=")
  string(REGEX REPLACE "^VERSION_CODENAME=\"?([^\"]*)\"?$" "\\1" distro "${codename}")
endif()
set(distro_qualifier "")
if(distro)
  set(distro_qualifier "&distro=${distro}")
endif()

# The source: what README's command (cmake/source_tarball.cmake) makes of
# this commit, hashed.
set(source_sha256 "")
set(source_note "")
execute_process(COMMAND "${CMAKE_COMMAND}" -DTARBALL=${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz
    -P "${CPACK_MAVRID_SOURCE_DIR}/cmake/source_tarball.cmake"
  RESULT_VARIABLE no_git OUTPUT_QUIET ERROR_QUIET)
if(NOT no_git)
  file(SHA256 "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz" source_sha256)
  execute_process(COMMAND git -C "${CPACK_MAVRID_SOURCE_DIR}" status --porcelain
    --untracked-files=no OUTPUT_VARIABLE changes)
  if(changes)
    set(source_note "The programs were built from a working tree with changes not yet committed, so not from this source alone.")
  endif()
endif()
file(REMOVE "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz" "${CPACK_TOPLEVEL_DIRECTORY}/source.tar.gz.spdx.json")

# The files each link map names as linked in (the archive members pulled
# in, each as ARCHIVE(MEMBER), the objects given whole, and, checked
# against what the program loads, the shared libraries), and what each
# program loads from the system: a dynamically linked ELF program the
# shared libraries it needs and the newest GLIBC_ version it asks for, a
# Windows program the DLLs it imports.
set(linked_static "")
set(members "")
set(linked_dynamic "")
set(imported "")
set(glibc_needed "")
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
    string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
    list(TRANSFORM dlls REPLACE "DLL Name: " "")
    list(APPEND imported ${dlls})
    string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${headers}")
    foreach(glibc IN LISTS versions)
      string(REPLACE "GLIBC_" "" glibc "${glibc}")
      if(glibc_needed STREQUAL "" OR glibc VERSION_GREATER glibc_needed)
        set(glibc_needed "${glibc}")
      endif()
    endforeach()
  endif()
  file(STRINGS "${map}" lines)
  set(section "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Archive member included")
      set(section members)
    elseif(line MATCHES "^(Discarded input sections|Memory Configuration|Allocating common)")
      set(section "")
    elseif(section STREQUAL "members" AND line MATCHES "^(/[^ (]+\\.a)\\(([^)]+)\\)")
      list(APPEND linked_static "${CMAKE_MATCH_1}")
      list(APPEND members "${CMAKE_MATCH_1}(${CMAKE_MATCH_2})")
    elseif(line MATCHES "^LOAD (/.+\\.(o|obj))$")
      # (the link-time optimizer's own objects are gone by now)
      if(EXISTS "${CMAKE_MATCH_1}")
        list(APPEND linked_static "${CMAKE_MATCH_1}")
        list(APPEND members "${CMAKE_MATCH_1}")
      endif()
    elseif(line MATCHES "^LOAD (/.+/([^/]+\\.so[.0-9]*))$")
      set(library "${CMAKE_MATCH_1}")
      if(CMAKE_MATCH_2 IN_LIST needed)
        list(APPEND linked_dynamic "${library}")
      endif()
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES imported)
list(REMOVE_DUPLICATES members)

# Each file's Debian package, asked of dpkg once for all of them, with the
# architecture dpkg gives it where one package is installed for several.
# dpkg knows a file by the path its package gives, so each is asked for as
# named (without ".."), as resolved, and with /usr added or taken away.
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
set(binaries_static "")
set(binaries_dynamic "")
foreach(kind static dynamic)
  foreach(file IN LISTS linked_${kind})
    cmake_path(NORMAL_PATH file OUTPUT_VARIABLE plain)
    file(REAL_PATH "${file}" real)
    string(REGEX REPLACE "^/usr" "" bare_plain "${plain}")
    string(REGEX REPLACE "^/usr" "" bare_real "${real}")
    set(owner "")
    foreach(line IN LISTS found)
      if(line MATCHES "^([^:, ]+(:[a-z0-9]+)?): (.+)$")
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
        "program: the SBOM cannot name it.  (A program relinked with a C library of your "
        "own is used as it is; the release files are made of Debian's components only.)")
    endif()
    list(APPEND binaries_${kind} "${owner}")
  endforeach()
  list(REMOVE_DUPLICATES binaries_${kind})
endforeach()
list(APPEND binaries_static ${CPACK_MAVRID_SOURCES_BUILT_IN})
list(REMOVE_DUPLICATES binaries_static)

# The source package whose code a cross or wrapper package carries, as its
# Built-Using names it, or nothing for a package of its own source's code.
function(code_source_of out_name out_version package built_using)
  set(wanted "")
  if(package MATCHES "^libc6(-dev)?-[a-z0-9]+-cross$")
    set(wanted "glibc")
  elseif(package MATCHES "^(lib(gcc|stdc\\+\\+)-[0-9]+-dev-[a-z0-9]+-cross|(gcc|g\\+\\+)-mingw-w64-.*)$")
    set(wanted "gcc-[0-9]+")
  endif()
  set(name "")
  set(code_version "")
  if(wanted AND built_using MATCHES "(^|, )(${wanted}) \\(= ([^)]+)\\)")
    set(name "${CMAKE_MATCH_2}")
    set(code_version "${CMAKE_MATCH_3}")
  endif()
  set(${out_name} "${name}" PARENT_SCOPE)
  set(${out_version} "${code_version}" PARENT_SCOPE)
endfunction()

# The licence of each kind of component, as its Debian copyright file
# declares it for what programs link of it.
function(licence_of out package)
  if(package MATCHES "^(libc6(-dev)?(-[a-z0-9]+-cross)?|glibc)$")
    set(licence "LGPL-2.1-or-later")
  elseif(package MATCHES "^(lib(gcc|stdc\\+\\+)-[0-9]+-dev|libgcc-s1|(gcc|g\\+\\+)-mingw-w64-.*|gcc-[0-9]+)(-[a-z0-9]+-cross)?$")
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

# MinGW-w64's runtime is not all ZPL-2.1: the link maps say which of its
# parts a program carries, and its copyright file the licence of each.
# The start code and libmingw32 (crt/) are in the public domain; gdtoa's
# files are Lucent's; the printf family is Keith Marshall's; winpthreads
# is MIT, with BSD-3-Clause in its header, and two files in the public
# domain.  Licences that SPDX has no identifier for are named LicenseRef-*
# and carry their text from the copyright file.
set(gdtoa "arithchk|dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|qnan|smisc|strtodg|strtodnrp|strtof|strtopx|sum|ulp")
set(pformat "basename|dirname|mingw_fprintf|mingw_pformat|mingw_printf|mingw_snprintf|mingw_sprintf|mingw_vfprintf|mingw_vprintf|mingw_vsnprintf|mingw_vsprintf")
set(mingw_refs "")
foreach(member IN LISTS members)
  if(NOT member MATCHES "-w64-mingw32/lib/(.+)$")
    continue()
  endif()
  set(part "${CMAKE_MATCH_1}")
  if(part MATCHES "^(crt[0-9a-z]*|dllcrt[0-9])\\.o$|^libmingw32\\.a\\("
     OR part MATCHES "^libpthread\\.a\\(libwinpthread_la-(clock|nanosleep)\\.o\\)$")
    list(APPEND mingw_refs "LicenseRef-MinGW-w64-public-domain")
  elseif(part MATCHES "^libmingwex\\.a\\(lib(32|64)_libmingwex_a-(${gdtoa})\\.o\\)$")
    list(APPEND mingw_refs "LicenseRef-MinGW-w64-Lucent")
    if(CMAKE_MATCH_2 MATCHES "^(qnan|strtodnrp)$")
      list(APPEND mingw_refs "LicenseRef-MinGW-w64-David-Gay")
    endif()
  elseif(part MATCHES "^libmingwex\\.a\\(lib(32|64)_libmingwex_a-(${pformat})\\.o\\)$")
    list(APPEND mingw_refs "LicenseRef-MinGW-w64-Keith-Marshall")
  elseif(part MATCHES "^libpthread\\.a\\(libwinpthread_la-")
    list(APPEND mingw_refs "MIT" "BSD-3-Clause")
  endif()
endforeach()
list(REMOVE_DUPLICATES mingw_refs)
list(SORT mingw_refs)

# What dpkg knows of each binary package, for its architecture alone, and
# the component it is part of.  Binary packages of one component (gcc-12's
# code from gcc- and g++-mingw-w64) are merged.
set(components "")
foreach(binary IN LISTS binaries_static binaries_dynamic)
  execute_process(COMMAND dpkg-query -W
      "-f=\${binary:Package}\t\${Version}\t\${source:Package}\t\${source:Version}\t\${Architecture}\t\${Built-Using}\n"
      "${binary}"
    OUTPUT_VARIABLE records COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "^[^\n]*" record "${records}")
  string(REPLACE "\t" ";" facts "${record}")
  list(GET facts 0 package_name)
  list(GET facts 1 package_version)
  list(GET facts 2 source_name)
  list(GET facts 3 source_version)
  list(GET facts 4 package_arch)
  list(LENGTH facts count)
  set(built_using "")
  if(count GREATER 5)
    list(GET facts 5 built_using)
  endif()
  string(REGEX REPLACE ":[a-z0-9]+$" "" package_name "${package_name}")
  code_source_of(code_name code_version "${package_name}" "${built_using}")
  purl_version(purl_package_version "${package_version}")
  if(code_name)
    set(component "${code_name}")
    purl_version(purl_code_version "${code_version}")
    set(${component}_version "${code_version}")
    set(${component}_purl "pkg:deb/debian/${code_name}@${purl_code_version}?arch=source${distro_qualifier}")
    set(${component}_download "https://snapshot.debian.org/package/${code_name}/${code_version}/")
    set(taken "${package_name} ${package_version}")
  else()
    set(component "${package_name}")
    set(${component}_version "${package_version}")
    set(${component}_purl "pkg:deb/debian/${package_name}@${purl_package_version}?arch=${package_arch}${distro_qualifier}")
    set(${component}_download "https://snapshot.debian.org/package/${source_name}/${source_version}/")
    set(taken "")
  endif()
  if(NOT component IN_LIST components)
    list(APPEND components "${component}")
    set(${component}_binaries "")
    set(${component}_taken "")
    set(${component}_kind "")
  endif()
  list(APPEND ${component}_binaries "${package_name}")
  if(taken)
    list(APPEND ${component}_taken "${taken}")
  endif()
  if(binary IN_LIST binaries_static)
    list(APPEND ${component}_kind STATIC)
  endif()
  if(binary IN_LIST binaries_dynamic)
    list(APPEND ${component}_kind DYNAMIC)
  endif()
  if(code_name)
    set(${component}_source_info "built from Debian's source package ${code_name} ${code_version}")
  else()
    set(${component}_source_info "built from Debian's source package ${source_name} ${source_version}")
  endif()
  licence_of(${component}_licence "${package_name}")
  if(package_name MATCHES "^mingw-w64-" AND mingw_refs)
    list(JOIN mingw_refs " AND " parts)
    set(${component}_licence "${${component}_licence} AND ${parts}")
  endif()
endforeach()
list(SORT components)
foreach(component IN LISTS components)
  list(REMOVE_DUPLICATES ${component}_kind)
  list(REMOVE_DUPLICATES ${component}_binaries)
  list(JOIN ${component}_taken ", " taken)
  if(taken)
    string(APPEND ${component}_source_info "; taken from its binary package ${taken}")
  endif()
endforeach()

# The texts of the LicenseRef-* licences, from MinGW-w64's copyright file:
# each licence's paragraph, its lines unindented and " ." made empty.
set(extracted "")
foreach(ref IN LISTS mingw_refs)
  if(NOT ref MATCHES "^LicenseRef-MinGW-w64-(.+)$")
    continue()
  endif()
  set(debian_name "${CMAKE_MATCH_1}")
  set(text "")
  foreach(component IN LISTS components)
    foreach(binary IN LISTS ${component}_binaries)
      if(binary MATCHES "^mingw-w64-" AND EXISTS "/usr/share/doc/${binary}/copyright")
        file(STRINGS "/usr/share/doc/${binary}/copyright" copyright_lines)
        # (The name stands in Files paragraphs too, with no text after it.)
        set(in_paragraph OFF)
        set(paragraph "")
        foreach(line IN LISTS copyright_lines)
          if(line STREQUAL "License: ${debian_name}")
            set(in_paragraph ON)
            set(paragraph "")
          elseif(in_paragraph AND line MATCHES "^ (.*)$")
            set(part "${CMAKE_MATCH_1}")
            if(part STREQUAL ".")
              set(part "")
            endif()
            string(APPEND paragraph "${part}\n")
          elseif(in_paragraph)
            set(in_paragraph OFF)
          endif()
          if(paragraph)
            set(text "${paragraph}")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
  if(text STREQUAL "")
    message(FATAL_ERROR "sbom: MinGW-w64's copyright file has no text of the licence ${debian_name}")
  endif()
  json_string(j_text "${text}")
  string(APPEND extracted ",
    {\"licenseId\": \"${ref}\", \"name\": \"MinGW-w64 ${debian_name}\", \"extractedText\": ${j_text}}")
endforeach()
string(REGEX REPLACE "^," "" extracted "${extracted}")

# An RPM is installed on systems of its own, whose C library is not this
# host's: it needs what its requirements say, libc.so.6 with the newest
# GLIBC_ version that the program asks for.
set(rpm_requirement "")
if(CPACK_GENERATOR STREQUAL "RPM" AND binaries_dynamic)
  set(rpm_requirement "${glibc_needed}")
  foreach(component IN LISTS components)
    if(${component}_kind STREQUAL "DYNAMIC")
      list(REMOVE_ITEM components "${component}")
    endif()
  endforeach()
endif()

string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)
set(licences "MIT")
foreach(component IN LISTS components)
  if("STATIC" IN_LIST ${component}_kind AND NOT ${component}_licence STREQUAL "NOASSERTION")
    string(REPLACE " AND " ";" terms "${${component}_licence}")
    list(APPEND licences ${terms})
  endif()
endforeach()
list(REMOVE_DUPLICATES licences)
list(JOIN licences " AND " program_licence)
file(READ "${CPACK_MAVRID_SOURCE_DIR}/LICENSE" licence_text)
# REUSE-IgnoreStart: a pattern, not a notice
string(REGEX MATCH "Copyright \\(c\\) [^\n]+" copyright "${licence_text}")
# REUSE-IgnoreEnd
set(supplier "Organization: ${MAVRID_CONTACT_NAME} (${MAVRID_CONTACT_EMAIL})")

# The document, field by field, in a fixed order; its namespace is filled
# in last, from the SHA-256 of the rest.
json_string(j_release "${release}")
json_string(j_copyright "${copyright}")
json_string(j_program_licence "${program_licence}")
json_string(j_supplier "${supplier}")
set(json "{
  \"spdxVersion\": \"SPDX-2.3\",
  \"dataLicense\": \"CC0-1.0\",
  \"SPDXID\": \"SPDXRef-DOCUMENT\",
  \"name\": ${j_release},
  \"documentNamespace\": \"@namespace@\",
  \"creationInfo\": {
    \"created\": \"${created}\",
    \"creators\": [\"Organization: ${MAVRID_CONTACT_NAME}\", \"Tool: mavrid cmake/sbom.cmake-${version}\"]
  },
  \"documentDescribes\": [\"SPDXRef-Package-release\"],
  \"packages\": [
    {
      \"SPDXID\": \"SPDXRef-Package-release\",
      \"name\": \"mavrid\",
      \"versionInfo\": \"${version}\",
      \"packageFileName\": ${j_release},
      \"supplier\": ${j_supplier},
      \"downloadLocation\": \"${download}\",
      \"filesAnalyzed\": false,
      \"licenseConcluded\": ${j_program_licence},
      \"licenseDeclared\": \"MIT\",
      \"copyrightText\": ${j_copyright},
      \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\", \"referenceLocator\": \"${release_purl}\"}],
      \"primaryPackagePurpose\": \"APPLICATION\"
    },
    {
      \"SPDXID\": \"SPDXRef-Package-source\",
      \"name\": \"mavrid\",
      \"versionInfo\": \"${version}\",
      \"packageFileName\": \"mavrid-${version}.tar.gz\",
      \"supplier\": ${j_supplier},
      \"downloadLocation\": \"${source_download}\",
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
      \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\", \"referenceLocator\": \"pkg:generic/mavrid@${version}?file_name=mavrid-${version}.tar.gz\"}],
      \"primaryPackagePurpose\": \"SOURCE\"
    }")
foreach(component IN LISTS components)
  json_string(j_licence "${${component}_licence}")
  json_string(j_source_info "${${component}_source_info}")
  package_id(id "${component}")
  string(APPEND json ",
    {
      \"SPDXID\": \"${id}\",
      \"name\": \"${component}\",
      \"versionInfo\": \"${${component}_version}\",
      \"supplier\": \"Organization: Debian\",
      \"downloadLocation\": \"${${component}_download}\",
      \"filesAnalyzed\": false,
      \"sourceInfo\": ${j_source_info},
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": ${j_licence},
      \"copyrightText\": \"NOASSERTION\",
      \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\", \"referenceLocator\": \"${${component}_purl}\"}],
      \"primaryPackagePurpose\": \"LIBRARY\"
    }")
endforeach()
if(rpm_requirement)
  string(APPEND json ",
    {
      \"SPDXID\": \"SPDXRef-Package-glibc\",
      \"name\": \"glibc\",
      \"versionInfo\": \"${rpm_requirement} or later\",
      \"downloadLocation\": \"NONE\",
      \"filesAnalyzed\": false,
      \"comment\": \"The C library of the system that installs the RPM, not part of it: the RPM requires libc.so.6(GLIBC_${rpm_requirement})(64bit).\",
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": \"LGPL-2.1-or-later\",
      \"copyrightText\": \"NOASSERTION\",
      \"primaryPackagePurpose\": \"LIBRARY\"
    }")
endif()
foreach(dll IN LISTS imported)
  package_id(id "${dll}")
  string(APPEND json ",
    {
      \"SPDXID\": \"${id}\",
      \"name\": \"${dll}\",
      \"versionInfo\": \"NOASSERTION\",
      \"supplier\": \"Organization: Microsoft\",
      \"downloadLocation\": \"NONE\",
      \"filesAnalyzed\": false,
      \"comment\": \"A DLL of Windows, which the program imports: it comes with the system that runs the program, not with this package.\",
      \"licenseConcluded\": \"NOASSERTION\",
      \"licenseDeclared\": \"NOASSERTION\",
      \"copyrightText\": \"NOASSERTION\",
      \"primaryPackagePurpose\": \"OPERATING-SYSTEM\"
    }")
endforeach()
string(APPEND json "
  ],")
if(extracted)
  string(APPEND json "
  \"hasExtractedLicensingInfos\": [${extracted}
  ],")
endif()
string(APPEND json "
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
  foreach(component IN LISTS components)
    package_id(component_id "${component}")
    foreach(kind IN LISTS ${component}_kind)
      string(APPEND relationships ",
    {\"spdxElementId\": \"SPDXRef-File-${id}\", \"relationshipType\": \"${kind}_LINK\", \"relatedSpdxElement\": \"${component_id}\"}")
    endforeach()
  endforeach()
  if(rpm_requirement)
    string(APPEND relationships ",
    {\"spdxElementId\": \"SPDXRef-File-${id}\", \"relationshipType\": \"DYNAMIC_LINK\", \"relatedSpdxElement\": \"SPDXRef-Package-glibc\"}")
  endif()
  foreach(dll IN LISTS imported)
    package_id(dll_id "${dll}")
    string(APPEND relationships ",
    {\"spdxElementId\": \"SPDXRef-File-${id}\", \"relationshipType\": \"DYNAMIC_LINK\", \"relatedSpdxElement\": \"${dll_id}\"}")
  endforeach()
endforeach()
string(APPEND json "
  ],
  \"relationships\": [${relationships}
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
string(REPLACE "@namespace@" "${namespace_base}/${release}-${content}" json "${json}")

set(into "${staged}/${CPACK_MAVRID_DOC_DIR}")
set(modes OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(WRITE "${into}/mavrid.spdx.json" "${json}")
file(CHMOD "${into}/mavrid.spdx.json" PERMISSIONS ${modes})
file(WRITE "${CPACK_MAVRID_BESIDE_DIR}/${release}.spdx.json" "${json}")
file(CHMOD "${CPACK_MAVRID_BESIDE_DIR}/${release}.spdx.json" PERMISSIONS ${modes})

if(NOT CPACK_MAVRID_NOTICES)
  return()
endif()

# The notices: a summary, then each component's copyright file and the
# licence texts they refer to, as Debian ships them.
set(notices "Third-party notices for ${release}

The programs in this package are mavrid's (MIT licence, in LICENSE), and
also carry code of the components below, linked into them when they were
built.  Each is named with its version and licence, the Debian package it
was taken from, and where its source is.  The copyright file of each
Debian package, and the texts of the licences they refer to, follow.
")
foreach(component IN LISTS components)
  if(NOT "STATIC" IN_LIST ${component}_kind)
    continue()
  endif()
  list(JOIN ${component}_binaries ", " binaries)
  string(APPEND notices "
- ${component} ${${component}_version}: ${${component}_licence}
  from Debian's ${binaries}; source: ${${component}_download}")
endforeach()
string(APPEND notices "\n")
if(CPACK_MAVRID_RELINK)
  string(APPEND notices "
The GNU C Library is linked into the program statically.  Its licence, the
LGPL, lets you replace it.  mavrid's whole source is the source tarball
mavrid-${version}.tar.gz (SHA-256 ${source_sha256}),
which builds this program again with the commands of its README.  To link
it with a C library of your own, put its static libc.a in a folder, with
the start files rcrt1.o, crti.o and crtn.o if you replace those too (else
the system's, from Debian's libc6-dev, are linked in), and configure a
fresh build folder with that folder:

    cmake --preset ${CPACK_MAVRID_RELINK} -DMAVRID_LIBC_DIR=/path/to/folder
    cmake --build --preset ${CPACK_MAVRID_RELINK}

Only the program's own link looks there.  The relinked program is used as
it is, from the build folder: the release files, and their SBOMs, are made
of Debian's components only, and cpack refuses a C library that no Debian
package holds.

The source of the GNU C Library and of GCC's runtime, as linked in, is
that of Debian's source packages named above.  For three years from this
release, the project gives that source to anyone who asks, at the contact
in SECURITY.md (${MAVRID_CONTACT_EMAIL}), for no more than the cost of
providing it.
")
endif()
set(common_licences "")
foreach(component IN LISTS components)
  if(NOT "STATIC" IN_LIST ${component}_kind)
    continue()
  endif()
  foreach(binary IN LISTS ${component}_binaries)
    set(copyright_file "/usr/share/doc/${binary}/copyright")
    if(NOT EXISTS "${copyright_file}")
      message(FATAL_ERROR "sbom: ${binary} has no ${copyright_file} for the notices")
    endif()
    file(READ "${copyright_file}" text)
    string(APPEND notices "
======================================================================
${binary} (${component} ${${component}_version}): ${copyright_file}
======================================================================

${text}")
    string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]" referred "${text}")
    list(APPEND common_licences ${referred})
  endforeach()
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
file(CHMOD "${into}/THIRD-PARTY-NOTICES.txt" PERMISSIONS ${modes})

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack's External generator on the staged files of a Windows build:
# makes them into a Windows Installer package, mavrid-<version>-win64.msi
# (or -win32), in the build folder, with wixl and msibuild (Debian's wixl
# and msitools).  It installs, for all users, into Program Files (the
# 32-bit one into Program Files (x86)) the program, its manual and style
# sheet, the licence, the notices, the SBOM and the CMake package, and adds
# that folder to the system PATH, which an uninstall takes out again.  A
# later version replaces an earlier one; an earlier one is refused.
#
# The same bytes from every build of one commit: the UpgradeCode is fixed,
# the product code comes from the version, the package code and every
# component's code from the version and what the package holds, and the
# summary's times (which wixl takes from the clock) are SOURCE_DATE_EPOCH,
# by faketime.
cmake_minimum_required(VERSION 3.25)
set(staged "${CPACK_TEMPORARY_DIRECTORY}")
set(msi "${CPACK_MAVRID_BESIDE_DIR}/${CPACK_PACKAGE_FILE_NAME}.msi")
set(arch "${CPACK_MAVRID_MSI_ARCH}")
include("${CPACK_MAVRID_SOURCE_DIR}/cmake/publishing.cmake")
foreach(tool wixl msibuild faketime)
  find_program(${tool}_program ${tool})
  if(NOT ${tool}_program)
    message(FATAL_ERROR "msi: ${tool} was not found (Debian: wixl, msitools, faketime), "
      "so the installer cannot be made")
  endif()
endforeach()

# Windows Installer versions have three numbers.
string(REPLACE "." ";" parts "${CPACK_MAVRID_VERSION}")
list(APPEND parts 0 0)
list(SUBLIST parts 0 3 parts)
list(JOIN parts "." product_version)

# Codes: the UpgradeCode of each architecture never changes; the others
# are name-based (UUID version 5) in a namespace of the project's own.
set(namespace "C2495D01-1FDA-4313-B94D-02652D3E1225")
if(arch STREQUAL "x64")
  set(upgrade_code "4AE79D5C-6647-4A14-8651-96783701539A")
  set(program_files ProgramFiles64Folder)
  set(win64 yes)
  set(template "x64;1033")
else()
  set(upgrade_code "84D50A1F-0E5D-480B-A26C-4E968BD021C3")
  set(program_files ProgramFilesFolder)
  set(win64 no)
  set(template "Intel;1033")
endif()
string(UUID product_code NAMESPACE ${namespace} NAME "product ${arch} ${product_version}" TYPE SHA1 UPPER)

# What the package holds: everything staged but the zip's README, which
# tells of unpacking and PATH by hand.  Each file is a component of its
# own, named by its path.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${staged}" "${staged}/*")
list(REMOVE_ITEM files README.md)
list(SORT files)
set(held "")
foreach(file IN LISTS files)
  file(SHA256 "${staged}/${file}" hash)
  string(APPEND held "${file} ${hash}\n")
endforeach()
string(UUID package_code NAMESPACE ${namespace} NAME "package ${arch} ${product_version} ${held}"
  TYPE SHA1 UPPER)

# The folders, nested as the files' paths say, each file in its own; wixl
# takes the sources' paths from the staged folder, where it runs.
function(xml_escape out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
# directory_xml(xml folder indent): the components of folder's files, and
# its subfolders in turn; the IDs of all of them go into components.
function(directory_xml out folder indent)
  set(xml "")
  set(found "")
  foreach(file IN LISTS files)
    cmake_path(GET file PARENT_PATH parent)
    if(NOT parent STREQUAL folder)
      continue()
    endif()
    cmake_path(GET file FILENAME name)
    string(MAKE_C_IDENTIFIER "file_${file}" id)
    string(UUID guid NAMESPACE ${namespace} NAME "component ${arch} ${file}" TYPE SHA1 UPPER)
    xml_escape(source "${file}")
    xml_escape(name "${name}")
    string(APPEND xml "${indent}<Component Id=\"${id}\" Guid=\"${guid}\" Win64=\"${win64}\">\n"
      "${indent}  <File Id=\"${id}\" Name=\"${name}\" Source=\"${source}\" KeyPath=\"yes\"/>\n"
      "${indent}</Component>\n")
    list(APPEND found ${id})
  endforeach()
  set(subfolders "")
  foreach(file IN LISTS files)
    cmake_path(GET file PARENT_PATH parent)
    while(parent)
      cmake_path(GET parent PARENT_PATH above)
      if(above STREQUAL folder)
        list(APPEND subfolders "${parent}")
      endif()
      set(parent "${above}")
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES subfolders)
  list(SORT subfolders)
  foreach(sub IN LISTS subfolders)
    cmake_path(GET sub FILENAME name)
    string(MAKE_C_IDENTIFIER "folder_${sub}" id)
    directory_xml(inner "${sub}" "${indent}  ")
    list(APPEND found ${components})
    string(APPEND xml "${indent}<Directory Id=\"${id}\" Name=\"${name}\">\n${inner}${indent}</Directory>\n")
  endforeach()
  set(components ${found} PARENT_SCOPE)
  set(${out} "${xml}" PARENT_SCOPE)
endfunction()
directory_xml(tree "" "          ")
set(refs "")
foreach(id IN LISTS components)
  string(APPEND refs "      <ComponentRef Id=\"${id}\"/>\n")
endforeach()

xml_escape(contact "${MAVRID_CONTACT_NAME} <${MAVRID_CONTACT_EMAIL}>")
xml_escape(manufacturer "${MAVRID_CONTACT_NAME}")
set(about "")
if(MAVRID_DOWNLOAD_URL)
  xml_escape(url "${MAVRID_DOWNLOAD_URL}")
  set(about "    <Property Id=\"ARPURLINFOABOUT\" Value=\"${url}\"/>\n")
endif()
set(work "${CPACK_TOPLEVEL_DIRECTORY}/msi")
file(REMOVE_RECURSE "${work}")
file(WRITE "${work}/mavrid.wxs" "<?xml version=\"1.0\" encoding=\"utf-8\"?>
<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">
  <Product Id=\"${product_code}\" Name=\"mavrid\" Language=\"1033\" Version=\"${product_version}\"
           Manufacturer=\"${manufacturer}\" UpgradeCode=\"${upgrade_code}\">
    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"
             Description=\"mavrid ${CPACK_MAVRID_VERSION}: 16-bit Intel HEX to Motorola S-record converter\"/>
    <MajorUpgrade DowngradeErrorMessage=\"A later version of mavrid is installed already: remove it first to install this one.\"/>
    <Media Id=\"1\" Cabinet=\"mavrid.cab\" EmbedCab=\"yes\"/>
    <Property Id=\"ARPCONTACT\" Value=\"${contact}\"/>
${about}    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">
      <Directory Id=\"${program_files}\">
        <Directory Id=\"INSTALLDIR\" Name=\"mavrid\">
${tree}        </Directory>
      </Directory>
    </Directory>
    <Feature Id=\"mavrid\" Level=\"1\">
${refs}    </Feature>
  </Product>
</Wix>
")

# wixl has no Environment element: the table, and the actions that apply
# it, are added to what it makes.  "=-*PATH" is the system's PATH, set at
# install and taken back at uninstall; "[~];" appends to what it holds.
string(TIMESTAMP epoch_date "%Y-%m-%d %H:%M:%S" UTC)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
    "${faketime_program}" -f "${epoch_date}" "${wixl_program}" -a ${arch} -o "${msi}" "${work}/mavrid.wxs"
  WORKING_DIRECTORY "${staged}" RESULT_VARIABLE failed ERROR_VARIABLE errors)
if(failed)
  message(FATAL_ERROR "msi: wixl failed: ${errors}")
endif()
file(WRITE "${work}/Environment.idt" "Environment\tName\tValue\tComponent_
s72\tl255\tL255\ts72
Environment\tEnvironment
PATH\t=-*PATH\t[~];[INSTALLDIR]\tfile_mavrid_exe
")
# (-s takes the words after it, so it comes last.)
execute_process(COMMAND "${msibuild_program}" "${msi}"
    -i "${work}/Environment.idt"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
    -s mavrid "${MAVRID_CONTACT_NAME}" "${template}" "{${package_code}}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "msi: msibuild failed")
endif()
file(CHMOD "${msi}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
message(STATUS "installer: ${msi}")

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on the staged files before it packs them: tools/release.py
# writes the package's SBOM and notices among them and beside the package,
# and gives them the modes and times of the release.  The package says what
# it holds in CPACK_MAVRID_* variables (CMakeLists.txt and the file that
# makes each kind of package).
# (Each as --name=value, so that an empty value stays an argument.)
set(arguments "--staged=${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "--generator=${CPACK_GENERATOR}"
  "--file-name=${CPACK_PACKAGE_FILE_NAME}" "--doc-dir=${CPACK_MAVRID_DOC_DIR}"
  "--beside=${CPACK_MAVRID_BESIDE_DIR}" "--objdump=${CPACK_MAVRID_OBJDUMP}"
  "--relink=${CPACK_MAVRID_RELINK}" "--version=${CPACK_MAVRID_VERSION}")
if(CPACK_GENERATOR STREQUAL "External" AND CPACK_MAVRID_MSI_ARCH)
  list(APPEND arguments --generator=msi)
endif()
foreach(program IN LISTS CPACK_MAVRID_PROGRAMS)
  list(APPEND arguments "--program=${program}")
endforeach()
foreach(package IN LISTS CPACK_MAVRID_SOURCES_BUILT_IN)
  list(APPEND arguments "--built-in=${package}")
endforeach()
if(CPACK_MAVRID_NOTICES)
  list(APPEND arguments --notices)
endif()
execute_process(COMMAND "${CPACK_MAVRID_SOURCE_DIR}/tools/release.py" stage ${arguments}
  COMMAND_ERROR_IS_FATAL ANY)

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack before it packs the staged files: tools/release.py writes
# the SBOM and notices among them and beside the package, and gives them
# the release's modes and times, as the CPACK_MAVRID_* variables say.
# (Each as --name=value, so that an empty value stays an argument.)
set(arguments "--staged=${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "--generator=${CPACK_GENERATOR}"
  "--file-name=${CPACK_PACKAGE_FILE_NAME}" "--doc-dir=${CPACK_MAVRID_DOC_DIR}"
  "--beside=${CPACK_MAVRID_BESIDE_DIR}" "--objdump=${CPACK_MAVRID_OBJDUMP}"
  "--relink=${CPACK_MAVRID_RELINK}" "--version=${CPACK_MAVRID_VERSION}")
if(CPACK_GENERATOR STREQUAL "External" AND CPACK_SYSTEM_NAME MATCHES "^win(64|32)$")
  list(APPEND arguments --generator=msi)
endif()
list(TRANSFORM CPACK_MAVRID_PROGRAMS PREPEND "--program=" OUTPUT_VARIABLE programs)
list(TRANSFORM CPACK_MAVRID_SOURCES_BUILT_IN PREPEND "--built-in=" OUTPUT_VARIABLE built_in)
execute_process(COMMAND "${CPACK_MAVRID_SOURCE_DIR}/tools/release.py" stage ${arguments} ${programs} ${built_in}
  COMMAND_ERROR_IS_FATAL ANY)

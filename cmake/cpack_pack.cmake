# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack: as the External generator's script, tools/release.py packs
# the staged files as a tarball or an installer, which cpack puts in the
# build folder and names last; after a Debian package is made, it gives
# its members dpkg-deb's modes, whatever the umask.
set(release "${CPACK_MAVRID_SOURCE_DIR}/tools/release.py")
cmake_path(GET CPACK_TEMPORARY_DIRECTORY PARENT_PATH work)
if(CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${release}" deb-modes ${CPACK_PACKAGE_FILES} COMMAND_ERROR_IS_FATAL ANY)
elseif(CPACK_SYSTEM_NAME MATCHES "^win(64|32)$")
  set(CPACK_EXTERNAL_BUILT_PACKAGES "${work}/${CPACK_PACKAGE_FILE_NAME}.msi")
  execute_process(COMMAND "${release}" msi "${CPACK_TEMPORARY_DIRECTORY}"
    "${CPACK_EXTERNAL_BUILT_PACKAGES}" "${CPACK_SYSTEM_NAME}" "--version=${CPACK_MAVRID_VERSION}"
    COMMAND_ERROR_IS_FATAL ANY)
else()
  set(CPACK_EXTERNAL_BUILT_PACKAGES "${work}/${CPACK_PACKAGE_FILE_NAME}.tar.gz")
  execute_process(COMMAND "${release}" tar "${CPACK_TEMPORARY_DIRECTORY}"
    "${CPACK_PACKAGE_FILE_NAME}" "${CPACK_EXTERNAL_BUILT_PACKAGES}" COMMAND_ERROR_IS_FATAL ANY)
endif()

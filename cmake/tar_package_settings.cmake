# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# A tarball that cpack stages and tar_package.cmake packs, in the build
# folder.  The External generator's own metadata (a .json file) goes to a
# folder of cpack's, so that beside the tarball lies nothing else.
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/tar_package.cmake)
set(CPACK_MAVRID_TARBALL_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/_CPack_Packages/metadata)

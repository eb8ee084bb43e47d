# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on the staged files: packs them as one folder in a
# .tar.gz, in the build folder, that is the same bytes whoever makes it,
# wherever, under any umask: entries sorted by name, owned by 0, time stamped
# SOURCE_DATE_EPOCH, modes 644 and 755, gzip without name or time.
cmake_path(GET CPACK_TEMPORARY_DIRECTORY PARENT_PATH staging)
cmake_path(GET CPACK_TEMPORARY_DIRECTORY FILENAME staged)
set(tarball ${CPACK_MAVRID_TARBALL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.tar.gz)
execute_process(
  COMMAND tar --create --sort=name --owner=0 --group=0 --numeric-owner
    --mtime=@$ENV{SOURCE_DATE_EPOCH} --mode=u=rwX,go=rX --format=gnu
    --transform=s|^${staged}|${CPACK_PACKAGE_FILE_NAME}| ${staged}
  COMMAND gzip -9n
  WORKING_DIRECTORY ${staging}
  OUTPUT_FILE ${tarball}
  RESULTS_VARIABLE results)
if(NOT results MATCHES "^0;0$")
  message(FATAL_ERROR "tar or gzip failed: ${results}")
endif()
message(STATUS "tarball: ${tarball}")

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on the staged files before it packs them.  They were made
# under the packager's umask and at the time of the build; in the package
# the directories are 755 and every time stamp is SOURCE_DATE_EPOCH (which
# rpmbuild does not apply to the files it is given).
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}")
    file(CHMOD "${path}" DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND staged)
  execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${staged}
    COMMAND_ERROR_IS_FATAL ANY)
endif()

# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run by cpack on a Debian package once it is made.  cpack gives each
# member of the package's ar archive (debian-binary, control.tar.gz,
# data.tar.gz) the mode of the file it made, which the packager's umask
# decides; here every member's mode is set to 644, as dpkg-deb sets it, so
# that the package is the same bytes under any umask.  An ar member header
# is 60 ASCII bytes: name 16, time 12, owner 6, group 6, mode 8, size 10,
# and the two bytes "`\n"; members start at even offsets after "!<arch>\n".
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" size)
  set(offset 8)
  while(offset LESS size)
    file(READ "${package}" header OFFSET ${offset} LIMIT 60)
    string(SUBSTRING "${header}" 58 2 end)
    if(NOT end STREQUAL "`\n")
      message(FATAL_ERROR "deb_modes: ${package} has no ar member header at ${offset}")
    endif()
    string(SUBSTRING "${header}" 48 10 member_size)
    string(STRIP "${member_size}" member_size)
    math(EXPR mode_at "${offset} + 40")
    execute_process(COMMAND sh -c "printf '100644  ' | dd of='${package}' bs=1 seek=${mode_at} conv=notrunc status=none"
      COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
  endwhile()
endforeach()

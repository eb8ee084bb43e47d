# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Run at build time by mavrid_add_srecord (mavrid-config.cmake): convert
# INPUT into OUTPUT with MAVRID, and remove OUTPUT when that fails.  mavrid
# keeps the records written before a fault, and a build tool that leaves
# a failed command's output in place (Ninja does) would let someone take
# the partial file for the converted one.
#
#   cmake -DMAVRID=program -DINPUT=file.hex -DOUTPUT=file.s19 -P mavrid-convert.cmake
execute_process(COMMAND "${MAVRID}" "${INPUT}" "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "mavrid ended with status ${status} on ${INPUT}: ${OUTPUT} removed")
endif()

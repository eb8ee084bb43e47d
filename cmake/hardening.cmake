# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Hardening of the shipped program: Release builds on ELF platforms get a
# stack protector, stack clash protection, checked C library calls
# (_FORTIFY_SOURCE), read-only relocations bound at start-up, and a
# position-independent executable.  Flags from CXXFLAGS and LDFLAGS (as
# dpkg-buildflags sets them) still apply, and come first; a _FORTIFY_SOURCE
# level given there is kept.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

if(NOT CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
  return()
endif()

check_pie_supported(LANGUAGES CXX)
set_property(TARGET mavrid PROPERTY POSITION_INDEPENDENT_CODE ON)

foreach(flag -fstack-protector-strong -fstack-clash-protection)
  string(MAKE_C_IDENTIFIER "HAVE${flag}" have_flag)
  check_cxx_compiler_flag(${flag} ${have_flag})
  if(${have_flag})
    target_compile_options(mavrid PRIVATE $<$<CONFIG:Release>:${flag}>)
  endif()
endforeach()

if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
  target_compile_definitions(mavrid PRIVATE $<$<CONFIG:Release>:_FORTIFY_SOURCE=2>)
endif()

check_linker_flag(CXX "LINKER:-z,relro,-z,now" HAVE_LINKER_RELRO_NOW)
if(HAVE_LINKER_RELRO_NOW)
  target_link_options(mavrid PRIVATE $<$<CONFIG:Release>:LINKER:-z,relro,-z,now>)
endif()

# The compiler's and start files' version strings are of no use at run
# time, and Debian asks for them to go.
if(CMAKE_OBJCOPY)
  add_custom_command(TARGET mavrid POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:mavrid>
    VERBATIM)
endif()

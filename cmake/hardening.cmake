# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The mavrid authors
# Release builds on ELF platforms get a stack protector, stack clash
# protection, _FORTIFY_SOURCE, full RELRO and PIE.  CXXFLAGS and LDFLAGS
# (as dpkg-buildflags sets them) still apply, first; their _FORTIFY_SOURCE stays.
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

# The compiler's version strings go, as Debian asks.
if(CMAKE_OBJCOPY)
  add_custom_command(TARGET mavrid POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:mavrid>
    VERBATIM)
endif()

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// static_glibc.cpp -- linked into the static Linux build only.  GoogleTest
// can stream results to a network socket, which needs getaddrinfo; a
// static program can resolve host names only with the NSS libraries of the
// glibc it was built with, so the linker warns.  The validator streams
// nothing: the link resolves getaddrinfo here (--wrap), to a refusal.
#include <netdb.h>

extern "C" int __wrap_getaddrinfo(const char* /*node*/, const char* /*service*/,
                                  const addrinfo* /*hints*/, addrinfo** /*found*/)
{
    return EAI_FAIL;
}

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host.h -- what the validation record says of the machine, the user and
// the files, each found out by this program itself.
#ifndef MAVRID_VALIDATE_HOST_H
#define MAVRID_VALIDATE_HOST_H

#include <string>

// The SHA-256 of bytes in lower-case hexadecimal, by a vetted
// implementation linked into this program (OpenSSL's libcrypto on POSIX,
// Windows CNG), never by a program found on PATH; empty if it failed.
std::string sha256_hex(const std::string& bytes);

// Which implementation sha256_hex uses, and its version.
std::string sha256_implementation();

// This program's own executable file, as the system names it.
std::string own_executable();

// The operating system, its kernel or build, and the architecture; Wine,
// where it runs this program, is named as such with the system under it.
std::string host_description();

// The user this program runs as, with their ID; privileged is set when
// they have root's (or, on Windows, an elevated administrator's) rights.
std::string user_description(bool& privileged);

// The type of the file system that holds path, as the system names it.
std::string file_system_of(const std::string& path);

// Whether path can be started as a program by this user; if not, why.
bool can_run(const std::string& path, std::string& why);

#endif // MAVRID_VALIDATE_HOST_H

// SPDX-License-Identifier: MIT
// host.h -- what the validation record says of the machine and the program.
#ifndef MAVRID_VALIDATE_HOST_H
#define MAVRID_VALIDATE_HOST_H

#include <string>

// The SHA-256 of the file's bytes in lower-case hexadecimal, computed by
// the platform's own means (Windows CNG; coreutils' sha256sum on POSIX),
// or empty with the reason in fault.
std::string sha256_of(const std::string& path, std::string& fault);

// The operating system, its kernel or build, and the architecture.
std::string host_description();

#endif // MAVRID_VALIDATE_HOST_H

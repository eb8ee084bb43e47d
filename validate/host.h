// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host.h -- what the validation record says of the machine, the user and
// the files, each found out by this program itself.
#ifndef MAVRID_VALIDATE_HOST_H
#define MAVRID_VALIDATE_HOST_H

#include <functional>
#include <string>
#include <vector>

#include "program_file.h"

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

// Set what this process's own settings would otherwise make a fault of the
// program's, and say in changed what was set: on POSIX the umask, so that
// what the validator writes is its own and its copy runs, and a file-size
// limit, lifted where it may be, which would end the validator by a
// signal.  False, with why saying what to fix, when a limit stays that the
// suite's files could pass.
bool settle_limits(std::vector<std::string>& changed, std::string& why);

// Run validation, whose temporary folder is folder, and return its status;
// however it ends, folder goes.  On POSIX it runs in a child process, so
// that a signal that ends it (which a signal to this process is passed
// on as) still leaves this one to remove the folder and say so.
int supervised(const std::function<int()>& validation, const std::string& folder);

// A folder of this program's own for everything it makes, that only this
// user may write: made in the temporary folder that TMPDIR names, or in
// /tmp where it is not set (on Windows, the folder GetTempPath names).
// Empty when that folder cannot serve, and then why says what to fix.
std::string make_private_folder(std::string& why);

// The program's bytes as a program at path, which this user alone may run
// and no one may write; false when it cannot be written.
bool write_program(const std::string& path, const std::string& bytes);

// The environment of every run of the program: what the suite needs, a
// locale and temporary, a folder of its own (under Wine, what Wine needs
// as well).  The names of this process's variables that it leaves out are
// added to left_out.
std::vector<std::string> program_environment(const std::string& temporary,
                                             std::vector<std::string>& left_out);

// The files that the program loads besides itself, each as "path, SHA-256
// hash": a dynamically linked ELF program's loader and shared libraries,
// as the loader finds them in that environment, or the DLLs a Windows
// program imports, as the system finds them.  One that is not found is
// named so.
std::vector<std::string> loaded_files(const std::string& program, const ProgramKind& kind,
                                      const std::vector<std::string>& environment);

#endif // MAVRID_VALIDATE_HOST_H

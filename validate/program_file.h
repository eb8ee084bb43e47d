// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// program_file.h -- what kind of file the program under validation is.
#ifndef MAVRID_VALIDATE_PROGRAM_FILE_H
#define MAVRID_VALIDATE_PROGRAM_FILE_H

#include <string>

struct ProgramKind {
    std::string description;  // such as "ELF 64-bit executable, x86-64"
    bool script = false;      // the hash then identifies the script, not what it runs
    bool windows_x86 = false; // a 32-bit x86 Windows program, run under WoW64 on 64-bit Windows
};

// Read the kind from the file's first bytes: an ELF or PE program and the
// machine it is for, or a script and its interpreter line.
ProgramKind program_kind(const std::string& bytes);

#endif // MAVRID_VALIDATE_PROGRAM_FILE_H

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// program_file.h -- what kind of file the program under validation is.
#ifndef MAVRID_VALIDATE_PROGRAM_FILE_H
#define MAVRID_VALIDATE_PROGRAM_FILE_H

#include <string>
#include <vector>

struct ProgramKind {
    std::string description;          // such as "ELF 64-bit executable, x86-64, statically linked"
    std::string linking;              // "static" or "dynamic", or empty for no program
    std::string interpreter;          // a dynamically linked ELF program's loader
    std::vector<std::string> imports; // the DLLs that a Windows program imports
    bool script = false;              // a "#!" line: the interpreter runs, not the file
    std::string cut_short;            // what a program cut short lacks; empty when whole
    bool windows_x86 = false; // a 32-bit x86 Windows program, run under WoW64 on 64-bit Windows
};

// Read the kind from the file's bytes: an ELF or PE program, the machine
// it is for and how it is linked, or a script and its interpreter line.
// Every field is read within the bytes given, never past their end; a
// Windows program cut short before its PE header says so in cut_short.
ProgramKind program_kind(const std::string& bytes);

#endif // MAVRID_VALIDATE_PROGRAM_FILE_H

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// program_file.cpp -- what kind of file the program under validation is.
#include "program_file.h"

#include <cstdint>

// An unsigned field of n bytes at offset, little- or big-endian; 0 past the end.
static std::uint32_t field(const std::string& bytes, std::size_t offset, int n, bool little)
{
    if (offset + static_cast<std::size_t>(n) > bytes.size())
        return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        auto byte = static_cast<unsigned char>(bytes[offset + (little ? n - 1 - i : i)]);
        value = value << 8 | byte;
    }
    return value;
}

static std::string elf_machine(std::uint32_t machine)
{
    switch (machine) {
    case 3:
        return "x86 (i386)";
    case 40:
        return "32-bit Arm";
    case 62:
        return "x86-64";
    case 183:
        return "64-bit Arm (AArch64)";
    case 243:
        return "RISC-V";
    default:
        return "machine " + std::to_string(machine);
    }
}

static std::string pe_machine(std::uint32_t machine)
{
    switch (machine) {
    case 0x14c:
        return "x86 (i386)";
    case 0x8664:
        return "x86-64";
    case 0xaa64:
        return "64-bit Arm (ARM64)";
    default:
        return "machine " + std::to_string(machine);
    }
}

ProgramKind program_kind(const std::string& bytes)
{
    ProgramKind kind;
    if (bytes.compare(0, 4,
                      "\x7f"
                      "ELF")
        == 0) {
        const bool little = field(bytes, 5, 1, true) == 1;
        const std::uint32_t type = field(bytes, 16, 2, little);
        kind.description = std::string("ELF ") + (field(bytes, 4, 1, true) == 2 ? "64" : "32")
                           + "-bit "
                           + (type == 2   ? "executable"
                              : type == 3 ? "position-independent executable or shared object"
                                          : "file of type " + std::to_string(type))
                           + ", " + elf_machine(field(bytes, 18, 2, little));
    } else if (bytes.compare(0, 2, "MZ") == 0) {
        const std::uint32_t pe = field(bytes, 0x3C, 4, true);
        if (bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
            kind.description = "MZ program without a PE header";
            return kind;
        }
        const std::uint32_t machine = field(bytes, pe + 4, 2, true);
        const bool plus = field(bytes, pe + 24, 2, true) == 0x20b;
        const std::uint32_t subsystem = field(bytes, pe + 24 + 68, 2, true);
        kind.windows_x86 = machine == 0x14c;
        kind.description = std::string(plus ? "PE32+" : "PE32") + " Windows "
                           + (subsystem == 3 ? "console program" : "program") + ", "
                           + pe_machine(machine);
    } else if (bytes.compare(0, 2, "#!") == 0) {
        kind.script = true;
        std::string line = bytes.substr(0, bytes.find('\n'));
        if (line.size() > 200)
            line = line.substr(0, 200) + "...";
        kind.description = "script: " + line;
    } else {
        kind.description = "unknown format";
    }
    return kind;
}

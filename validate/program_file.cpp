// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// program_file.cpp -- what kind of file the program under validation is.
#include "program_file.h"

#include <cstdint>

// An unsigned field of n bytes at offset, little- or big-endian; 0 past the end.
static std::uint64_t field(const std::string& bytes, std::uint64_t offset, int n, bool little)
{
    if (offset > bytes.size() || bytes.size() - offset < static_cast<std::uint64_t>(n))
        return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < n; ++i) {
        auto byte = static_cast<unsigned char>(bytes[offset + (little ? n - 1 - i : i)]);
        value = value << 8 | byte;
    }
    return value;
}

// The NUL-terminated text at offset, at most limit bytes; empty past the end.
static std::string text_at(const std::string& bytes, std::uint64_t offset, std::size_t limit = 4096)
{
    if (offset >= bytes.size())
        return "";
    const std::size_t end = bytes.find('\0', offset);
    const std::size_t length = (end == std::string::npos ? bytes.size() : end) - offset;
    return bytes.substr(offset, length < limit ? length : limit);
}

static std::string elf_machine(std::uint64_t machine)
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

static std::string pe_machine(std::uint64_t machine)
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

// An ELF program: its loader (PT_INTERP) makes it dynamically linked; a
// position-independent one says so in DT_FLAGS_1 (DF_1_PIE), which tells a
// static-pie program from a shared object.
static void read_elf(const std::string& bytes, ProgramKind& kind)
{
    const bool wide = field(bytes, 4, 1, true) == 2;
    const bool little = field(bytes, 5, 1, true) == 1;
    const std::uint64_t type = field(bytes, 16, 2, little);
    const std::uint64_t headers = field(bytes, wide ? 0x20 : 0x1C, wide ? 8 : 4, little);
    const std::uint64_t header_size = field(bytes, wide ? 0x36 : 0x2A, 2, little);
    const std::uint64_t header_count = field(bytes, wide ? 0x38 : 0x2C, 2, little);
    bool pie = false;
    for (std::uint64_t i = 0; i < header_count; ++i) {
        const std::uint64_t header = headers + i * header_size;
        const std::uint64_t segment = field(bytes, header, 4, little);
        const std::uint64_t offset = field(bytes, header + (wide ? 8 : 4), wide ? 8 : 4, little);
        const std::uint64_t size = field(bytes, header + (wide ? 32 : 16), wide ? 8 : 4, little);
        if (segment == 3) { // PT_INTERP
            kind.interpreter = text_at(bytes, offset);
        } else if (segment == 2) { // PT_DYNAMIC
            const std::uint64_t entry = wide ? 16 : 8;
            for (std::uint64_t at = offset; at + entry <= offset + size && at < bytes.size();
                 at += entry) {
                const std::uint64_t tag = field(bytes, at, wide ? 8 : 4, little);
                const std::uint64_t value = field(bytes, at + entry / 2, wide ? 8 : 4, little);
                if (tag == 0x6ffffffb && (value & 0x08000000) != 0) // DT_FLAGS_1, DF_1_PIE
                    pie = true;
                if (tag == 0)
                    break;
            }
        }
    }
    const bool dynamic = !kind.interpreter.empty();
    kind.linking = dynamic ? "dynamic" : "static";
    kind.description =
        std::string("ELF ") + (wide ? "64" : "32") + "-bit "
        + (type == 2                       ? "executable"
           : type == 3 && (pie || dynamic) ? "position-independent executable"
           : type == 3                     ? "shared object"
                                           : "file of type " + std::to_string(type))
        + ", " + elf_machine(field(bytes, 18, 2, little)) + ", "
        + (dynamic ? "dynamically linked (loader " + kind.interpreter + ")" : "statically linked");
}

// A relative virtual address of a PE image as an offset in its file, by the
// section that holds it; 0 when none does.
static std::uint64_t file_offset(const std::string& bytes, std::uint64_t sections,
                                 std::uint64_t count, std::uint64_t rva)
{
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t section = sections + i * 40;
        const std::uint64_t size = field(bytes, section + 8, 4, true);
        const std::uint64_t address = field(bytes, section + 12, 4, true);
        const std::uint64_t raw_size = field(bytes, section + 16, 4, true);
        const std::uint64_t raw = field(bytes, section + 20, 4, true);
        if (rva >= address && rva < address + (size > raw_size ? size : raw_size))
            return rva - address + raw;
    }
    return 0;
}

// A PE program, and the DLLs that its import table names.
static void read_pe(const std::string& bytes, ProgramKind& kind)
{
    const std::uint64_t pe = field(bytes, 0x3C, 4, true);
    if (pe > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        kind.cut_short = "starts as a Windows program (MZ) but has no PE header in its "
                         + std::to_string(bytes.size()) + " bytes";
        return;
    }
    const std::uint64_t machine = field(bytes, pe + 4, 2, true);
    const std::uint64_t section_count = field(bytes, pe + 6, 2, true);
    const std::uint64_t optional_size = field(bytes, pe + 20, 2, true);
    const std::uint64_t optional = pe + 24;
    const bool plus = field(bytes, optional, 2, true) == 0x20b;
    const std::uint64_t subsystem = field(bytes, optional + 68, 2, true);
    const std::uint64_t imports = field(bytes, optional + (plus ? 112 : 96) + 8, 4, true);
    const std::uint64_t sections = optional + optional_size;
    if (imports != 0) {
        const std::uint64_t table = file_offset(bytes, sections, section_count, imports);
        for (std::uint64_t entry = table; table != 0 && entry + 20 <= bytes.size(); entry += 20) {
            const std::uint64_t name = field(bytes, entry + 12, 4, true);
            if (name == 0 || kind.imports.size() == 256)
                break;
            kind.imports.push_back(
                text_at(bytes, file_offset(bytes, sections, section_count, name), 260));
        }
    }
    kind.windows_x86 = machine == 0x14c;
    kind.linking = "dynamic";
    std::string dlls;
    for (const std::string& dll : kind.imports)
        dlls += (dlls.empty() ? "" : ", ") + dll;
    kind.description = std::string(plus ? "PE32+" : "PE32") + " Windows "
                       + (subsystem == 3 ? "console program" : "program") + ", "
                       + pe_machine(machine) + ", importing " + (dlls.empty() ? "no DLL" : dlls);
}

ProgramKind program_kind(const std::string& bytes)
{
    ProgramKind kind;
    if (bytes.compare(0, 4,
                      "\x7f"
                      "ELF")
        == 0) {
        read_elf(bytes, kind);
    } else if (bytes.compare(0, 2, "MZ") == 0) {
        read_pe(bytes, kind);
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

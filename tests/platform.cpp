// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// platform.cpp -- files and hashes, alike on every system.
#include "platform.h"

#include <filesystem>
#include <fstream>
#include <sstream>

std::string read_file(const std::string& path, bool* readable)
{
#ifdef _WIN32
    std::ifstream in(std::filesystem::path(widen(path)), std::ios::binary);
#else
    std::ifstream in(path, std::ios::binary);
#endif
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (readable != nullptr)
        *readable = in.is_open() && (static_cast<bool>(in) || in.eof());
    return bytes.str();
}

std::string hex_of(const unsigned char* bytes, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0xF];
    }
    return hex;
}

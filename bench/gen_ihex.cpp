// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// gen_ihex.cpp -- write a valid Intel HEX workload for the benchmark.
//
//   gen_ihex RECORD_LENGTH DATA_BYTES OUTFILE
//
// Writes DATA_BYTES of pseudo-random data as data records of RECORD_LENGTH
// bytes from address 0, wrapping through the 64 KiB address space (a record
// that would cross FFFF is cut short there), then an end-of-file record.
#include <cstdio>
#include <cstdlib>

static unsigned next_random(unsigned& state)
{
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0xFF;
}

static void put_byte(std::FILE* out, unsigned value, unsigned& sum)
{
    static const char digits[] = "0123456789ABCDEF";
    std::putc(digits[value >> 4], out);
    std::putc(digits[value & 0xF], out);
    sum += value;
}

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: gen_ihex RECORD_LENGTH DATA_BYTES OUTFILE\n");
        return 2;
    }
    unsigned record_length = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 0));
    unsigned long long left = std::strtoull(argv[2], nullptr, 0);
    std::FILE* out = std::fopen(argv[3], "w");
    if (record_length == 0 || record_length > 255 || out == nullptr) {
        std::fprintf(stderr, "gen_ihex: bad record length or cannot create %s\n", argv[3]);
        return 2;
    }
    unsigned address = 0;
    unsigned state = 1;
    while (left > 0) {
        unsigned n = record_length;
        if (n > left)
            n = static_cast<unsigned>(left);
        if (address + n > 0x10000)
            n = 0x10000 - address;
        unsigned sum = 0;
        std::putc(':', out);
        put_byte(out, n, sum);
        put_byte(out, address >> 8, sum);
        put_byte(out, address & 0xFF, sum);
        put_byte(out, 0, sum);
        for (unsigned i = 0; i < n; ++i)
            put_byte(out, next_random(state), sum);
        put_byte(out, (0x100 - (sum & 0xFF)) & 0xFF, sum);
        std::putc('\n', out);
        address = (address + n) & 0xFFFF;
        left -= n;
    }
    std::fputs(":00000001FF\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}

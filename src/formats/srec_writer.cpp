// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// srec_writer.cpp -- writing Motorola S-record lines.
//
// One call to put_srecord writes one whole line, from the "S" to the line
// end, and every byte it encodes also goes into running_sum.
#include "formats/srec_writer.h"

#include "converter.h"

// Every digit written comes from here, so output is always upper case.
static constexpr char hex_digits[] = "0123456789ABCDEF";

static void put_hex_byte(int value)
{
    auto byte = static_cast<unsigned>(value);
    running_sum += byte;
    write_char(hex_digits[byte >> 4], srec_out);
    write_char(hex_digits[byte & 0x0F], srec_out);
}

void put_srecord(int type, unsigned count, unsigned address, const int* data)
{
    write_char('S', srec_out);
    write_char(hex_digits[type], srec_out);
    running_sum = 0;
    put_hex_byte(static_cast<int>(count + 3));
    // The address field holds 16 bits: a chunk that starts past FFFF rolls
    // over, as Intel HEX load offsets do.
    put_hex_byte(static_cast<int>((address >> 8) & 0xFF));
    put_hex_byte(static_cast<int>(address & 0xFF));
    for (unsigned i = 0; i < count; ++i)
        put_hex_byte(data[i]);
    put_hex_byte(static_cast<int>(~running_sum & 0xFF));
    // A text stream: the runtime turns this into the platform's line end.
    write_char('\n', srec_out);
    if (stream_failed(srec_out))
        error_exit("Disk or directory full");
}

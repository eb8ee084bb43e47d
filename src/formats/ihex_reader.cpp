// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// ihex_reader.cpp -- taking Intel HEX text apart, one character at a time.
//
// Nothing is read ahead and no line is assembled: the record layout is
// decided by the caller, which asks for one byte at a time.
#include "formats/ihex_reader.h"

#include <array>

#include "converter.h"

// NOLINTNEXTLINE(misc-redundant-expression): a check of the C library
static_assert(EOF == -1, "the digit table keeps slot 0 for EOF");

static constexpr int NOT_A_DIGIT = -1;
static constexpr int END_OF_INPUT = -2;

// Value of each character as a hexadecimal digit, indexed by the character
// + 1 so that EOF has a slot of its own and one test in the hot path finds
// both faults.  Bit 7 is dropped: some senders use it as a parity bit, so
// '0' | 0x80 still reads as 0.
static constexpr std::array<int, 257> digit_value = [] {
    std::array<int, 257> v{};
    for (auto& x : v)
        x = NOT_A_DIGIT;
    v[0] = END_OF_INPUT;
    for (int i = 0; i < 16; ++i) {
        for (int parity : {0x00, 0x80}) {
            v[1 + (parity | "0123456789ABCDEF"[i])] = i;
            v[1 + (parity | "0123456789abcdef"[i])] = i;
        }
    }
    return v;
}();
static_assert(digit_value[1 + 'b'] == 11 && digit_value[1 + ('F' | 0x80)] == 15);
static_assert(digit_value[1 + 'G'] == NOT_A_DIGIT && digit_value[1 + ' '] == NOT_A_DIGIT);

// The same parity rule, for the record mark: ':' | 0x80 starts a record.
static int get_char()
{
    int c = read_char(ihex_in);
    if (c == EOF) // end of file and a read failure alike
        error_exit("Unexpected EOF on Intel hex file");
    return c & 0x7F;
}

void skip_to(int target)
{
    while (get_char() != target) {
    }
}

static int get_hex_digit()
{
    int value = digit_value[static_cast<unsigned>(read_char(ihex_in) + 1)];
    if (value < 0)
        error_exit(value == END_OF_INPUT ? "Unexpected EOF on Intel hex file"
                                         : "Bad record in Intel hex file");
    return value;
}

int get_hex_byte()
{
    int high = get_hex_digit();
    int value = high * 16 + get_hex_digit();
    running_sum += static_cast<unsigned>(value);
    return value;
}

bool starts_with_record(std::FILE* opened)
{
    if (opened == nullptr)
        return false;
    int c = EOF;
    while ((c = std::getc(opened)) != EOF) {
        c &= 0x7F; // as the reader sees it
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            break;
    }
    std::fclose(opened);
    return c == ':';
}

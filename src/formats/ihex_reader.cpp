// ihex_reader.cpp -- taking Intel HEX text apart, one character at a time.
//
// Nothing is read ahead and no line is assembled: the record layout is
// decided by the caller, which asks for one byte at a time.
#include "formats/ihex_reader.h"

#include <cctype>

#include "converter.h"

// Bit 7 is dropped before anything is compared: some senders use it as a
// parity bit, so ':' | 0x80 still starts a record.
static int get_char()
{
    int c = std::getc(ihex_in);
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
    int c = std::toupper(get_char());
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    error_exit("Bad record in Intel hex file");
}

int get_hex_byte()
{
    int high = get_hex_digit();
    int value = high * 16 + get_hex_digit();
    running_sum += static_cast<unsigned>(value);
    return value;
}

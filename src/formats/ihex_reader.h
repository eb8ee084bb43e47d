// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// ihex_reader.h -- taking Intel HEX text apart, one character at a time.
#ifndef MAVRID_FORMATS_IHEX_READER_H
#define MAVRID_FORMATS_IHEX_READER_H

#include <cstdio>

// Consume characters up to and including the first whose low 7 bits are
// target.  Ends the run at end of file.
void skip_to(int target);

// Read two hexadecimal digits; add their value, 0-255, to running_sum and
// return it.  Ends the run on a non-digit or at end of file.
int get_hex_byte();

// Whether a stream opened for this question alone holds Intel HEX: its
// first character that is not blank or a line end is a record mark.  The
// stream is closed; a null one, of a file that may not be read, holds none.
bool starts_with_record(std::FILE* opened);

#endif // MAVRID_FORMATS_IHEX_READER_H

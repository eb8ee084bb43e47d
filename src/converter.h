// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// converter.h -- the state and the fatal exit shared by the whole run.
#ifndef MAVRID_CONVERTER_H
#define MAVRID_CONVERTER_H

#include <cstdio>

extern std::FILE* ihex_in;   // the Intel HEX file, read
extern std::FILE* srec_out;  // the S-record file, written
extern unsigned running_sum; // bytes of the current record; low 8 bits used

// Print "Error -- message" on standard output and end the run, status -1.
[[noreturn]] void error_exit(const char* message);

// One character in or out of a stream.  Only one thread ever touches the
// streams, so the lock that getc and putc take per character is skipped
// where the C library offers that.
#if MAVRID_HAVE_UNLOCKED_STDIO
inline int read_char(std::FILE* stream)
{
    return getc_unlocked(stream);
}
inline void write_char(int c, std::FILE* stream)
{
    putc_unlocked(c, stream);
}
#else
inline int read_char(std::FILE* stream)
{
    return std::getc(stream);
}
inline void write_char(int c, std::FILE* stream)
{
    std::putc(c, stream);
}
#endif

// Whether the stream's error indicator is set, without the lock too where
// the C library offers that (not POSIX, but glibc and the BSDs do).
#if MAVRID_HAVE_FERROR_UNLOCKED
inline bool stream_failed(std::FILE* stream)
{
    return ferror_unlocked(stream) != 0;
}
#else
inline bool stream_failed(std::FILE* stream)
{
    return std::ferror(stream) != 0;
}
#endif

#endif // MAVRID_CONVERTER_H

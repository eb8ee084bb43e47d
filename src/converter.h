// converter.h -- the state and the fatal exit shared by the whole run.
#ifndef MAVRID_CONVERTER_H
#define MAVRID_CONVERTER_H

#include <cstdio>

extern std::FILE* ihex_in;   // the Intel HEX file, read
extern std::FILE* srec_out;  // the S-record file, written
extern unsigned running_sum; // bytes of the current record; low 8 bits used

// Print "Error -- message" on standard output and end the run, status -1.
[[noreturn]] void error_exit(const char* message);

#endif // MAVRID_CONVERTER_H

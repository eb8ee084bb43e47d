// SPDX-License-Identifier: MIT
// file_checks.h -- the checks that keep a run from harming the user's files.
//
// Opening outfile for writing empties it at once, so every check that can
// refuse it is made before it is opened.  Each one guards against a single
// way that a file could be lost or corrupted:
//   - hold_standard_descriptors: console text landing in the S-record file
//     when the caller started the program with a standard descriptor closed;
//   - is_directory: a directory taken for an input, found only at its first
//     read, after the output has been emptied;
//   - is_same_file: the input emptied because outfile names it;
//   - is_console_file: S-records and console text written over each other
//     because outfile names the file that standard output is redirected to.
#ifndef MAVRID_FILE_CHECKS_H
#define MAVRID_FILE_CHECKS_H

#include <cstdio>

// Hold each closed standard descriptor (0-2) with the null device, so that
// no file opened later takes its place.  Call before any file is opened.
void hold_standard_descriptors();

// Whether the open stream reads a directory.
bool is_directory(std::FILE* stream);

// Whether path names the file open as stream, by any name or link.
bool is_same_file(std::FILE* stream, const char* path);

// Whether path names the regular file that standard output writes to.  A
// pipe, a terminal or a device (the null device included) never matches.
bool is_console_file(const char* path);

#endif // MAVRID_FILE_CHECKS_H

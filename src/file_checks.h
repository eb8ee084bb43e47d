// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// file_checks.h -- the checks that keep a run from harming the user's files.
//
// Each one guards against a single way that a file could be lost or
// corrupted:
//   - hold_standard_descriptors: console text landing in the S-record file
//     when the caller started the program with a standard descriptor closed;
//   - ignore_file_size_signal: a run past the file-size limit killed by a
//     signal, its output cut short and no error reported;
//   - is_directory: a directory taken for an input, found only at its first
//     read, after the output has been emptied;
//   - standard_stream_is_input, standard_stream_is_named: console text
//     written into the input, or into a file that a wrong call names,
//     because standard output was redirected to it;
//   - create_output: the input emptied because outfile names it or the
//     device or file its bytes are kept in, S-records and console text
//     written over each other because outfile names the file that
//     standard output writes to, or a disk in use written over.
#ifndef MAVRID_FILE_CHECKS_H
#define MAVRID_FILE_CHECKS_H

#include <cstdio>

// Hold each closed standard descriptor (0-2) with the null device, or with
// the root folder read-only where there is none, so that no file opened
// later takes its place.  Call before any file is opened.
void hold_standard_descriptors();

// Make a write past the file-size limit fail as a write to a full disk
// does, instead of ending the run.
void ignore_file_size_signal();

// Whether the open stream reads a directory.
bool is_directory(std::FILE* stream);

enum StandardStream { STANDARD_OUTPUT = 1, STANDARD_ERROR = 2 };

// Whether the standard stream writes to the regular file or block device
// open as input, whatever mode it was opened in.
bool standard_stream_is_input(StandardStream stream, std::FILE* input);

// Whether the standard stream writes to the regular file or block device
// that one of the count names is, whatever mode it was opened in.
bool standard_stream_is_named(StandardStream stream, char* const names[], int count);

// Open path as a text stream for writing and only then empty it, unless
// what was opened is the file open as input, or the file or block device
// that standard output writes to; nor a loop device that one of those is
// kept in or keeps one of them, two spellings of one name on a
// case-insensitive FUSE file system, or a block device in use.  The checks
// are made on the open file, so no rename or link made meanwhile can
// change what is written.  Returns nullptr when path cannot be opened, is
// refused, or its identity cannot be read; the caller then ends the run.
std::FILE* create_output(const char* path, std::FILE* input);

#endif // MAVRID_FILE_CHECKS_H

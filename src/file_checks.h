// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// file_checks.h -- opening the two files so that a run harms none of the
// user's files (file_checks_posix.cpp, file_checks_windows.cpp).
//
// Whether anything else holds the output is asked of the system, which
// knows every name, link, mount and device that reaches a file: the run
// itself never works out which names are one file, but where the system
// gives no answer, or a file system hides the answer from it.
#ifndef MAVRID_FILE_CHECKS_H
#define MAVRID_FILE_CHECKS_H

#include <cstdio>

// Hold each closed standard descriptor (0-2) with the null device, or with
// the root folder read-only where there is none, so that no file opened
// later takes its place and receives console text.  Call before any file
// is opened.
void hold_standard_descriptors();

// Make a write past the file-size limit fail as a write to a full disk
// does, instead of ending the run by a signal.
void ignore_file_size_signal();

// Open path for reading in binary, or return nullptr: it cannot be opened
// or is a directory.  On Windows no one may write the file while it is
// open, this run's output included, by whatever name.
std::FILE* open_input(const char* path);

enum StandardStream { STANDARD_OUTPUT = 1, STANDARD_ERROR = 2 };

// Whether the standard stream writes to the regular file or block device
// open as input, whatever mode it was opened in.
bool standard_stream_is_input(StandardStream stream, std::FILE* input);

// Whether the standard stream writes to the regular file or block device
// that one of the count names is, whatever mode it was opened in.
bool standard_stream_is_named(StandardStream stream, char* const names[], int count);

// Open path as a text stream for writing and only then empty it.  Returns
// nullptr when it cannot be opened, is a block device, or something else
// holds it: the input, standard output's file, a loop device, another
// process.  Ends the run with its own message when it holds Intel HEX.
// The checks are made on the file opened, so no rename or link made
// meanwhile can change what is written.
std::FILE* create_output(const char* path, std::FILE* input);

#endif // MAVRID_FILE_CHECKS_H

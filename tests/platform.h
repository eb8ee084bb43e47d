// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// platform.h -- what the suite and the validator ask of the system they run
// on: starting processes and waiting for them, whether Windows programs run
// under Wine, names as wide strings, whole files, and hashes as text
// (platform.cpp, platform_posix.cpp, platform_windows.cpp).
#ifndef MAVRID_TESTS_PLATFORM_H
#define MAVRID_TESTS_PLATFORM_H

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
using ProcessId = void*; // a process's handle
#else
#include <sys/types.h>
using ProcessId = pid_t;
#endif

// The null device, as the system names it.
#ifdef _WIN32
inline const std::string NULL_DEVICE = "NUL";
#else
inline const std::string NULL_DEVICE = "/dev/null";
#endif

// Given as a standard stream's file: the process starts with it closed.
inline const std::string CLOSED = "<closed>";

// Whether a Windows program started from here runs under Wine: on POSIX
// always, for only Wine runs one there; on Windows, when this process does.
bool under_wine();

// A file's bytes, empty when it cannot be read; readable, if given, says
// whether it was read to its end.
std::string read_file(const std::string& path, bool* readable = nullptr);

// Bytes, such as a hash, as lower-case hexadecimal digits.
std::string hex_of(const unsigned char* bytes, std::size_t size);

#ifdef _WIN32
// A UTF-8 name as the wide calls take it, and back.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);
#endif

// What a standard stream of a process is given.
struct Standard {
    std::string file = NULL_DEVICE; // opened for it, or CLOSED
    enum Opening { READ, EMPTIED, APPENDED, READ_WRITE } opening = READ;
    int descriptor = -1; // POSIX: instead, this open descriptor, such as a pipe's end
};

// A process to start: the program, named by path or found on PATH, with
// its arguments; its environment; the folder it starts in; and its
// standard input, output and error.
struct Launch {
    std::vector<std::string> words;
    const std::vector<std::string>* environment = nullptr; // NAME=value each; null: this one's
    std::string folder;                                    // empty: this process's
    std::array<Standard, 3> standard{};
    bool errors_to_output = false; // standard error is the file standard output is, as 2>&1
#ifndef _WIN32
    std::function<void()> prepare; // run in the child just before the program, if set
#endif
};

#ifdef _WIN32
// Start the process, in job unless that is null, and return its handle;
// nullptr, with error set, when it cannot be started.
ProcessId start(const Launch& launch, void* job, unsigned long& error);
#else
// In a child process only: set the process up as launch says and run the
// program, or end with status 126 (set-up failed) or 127 (not started).
[[noreturn]] void become(const Launch& launch);

// Start the process and return its ID, or -1.
ProcessId start(const Launch& launch);

// The status of a process that has ended as a POSIX shell shows it: the
// exit status, or 128 and the signal that ended it.
int shell_status(int wait_status);

// Run the process to its end, or end it at deadline, and return its
// status as a shell shows it (-1 when it could not be started); what it
// wrote on standard output goes into output, if given.
int run(Launch launch, std::chrono::milliseconds deadline, std::string* output = nullptr);
#endif

#endif // MAVRID_TESTS_PLATFORM_H

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// child_process.h -- what the platform's process starter shares with the rest of
// the harness.
#ifndef MAVRID_TESTS_CHILD_PROCESS_H
#define MAVRID_TESTS_CHILD_PROCESS_H

#include <string>
#include <vector>

// The words of MAVRID_TEST_LAUNCHER, empty when there is none.
const std::vector<std::string>& launcher();

// The whole of a file's bytes, empty when it cannot be read.
std::string read_file(const std::string& file);

#endif // MAVRID_TESTS_CHILD_PROCESS_H

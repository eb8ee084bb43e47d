// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// child_process.h -- what the platform's process starter shares with the rest of
// the harness.
#ifndef MAVRID_TESTS_CHILD_PROCESS_H
#define MAVRID_TESTS_CHILD_PROCESS_H

#include <chrono>
#include <string>
#include <vector>

// The words of MAVRID_TEST_LAUNCHER, empty when there is none.
const std::vector<std::string>& launcher();

// The environment that choose_environment chose, or nullptr for the
// harness's own.
const std::vector<std::string>* chosen_environment();

// Record that a run left processes running (what says which, and that they
// were ended): a failure of the test, or a property for the validator.
void report_left_behind(const std::string& what);

// The deadline of the next run, and what each run's start and end say of
// how long runs take.
std::chrono::milliseconds run_deadline();
void run_ended(std::chrono::milliseconds took, bool killed);

#endif // MAVRID_TESTS_CHILD_PROCESS_H

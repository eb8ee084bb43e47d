// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// requirements.h -- the operational requirements, as doc/requirements.md
// states them, built into the validation program.
#ifndef MAVRID_VALIDATE_REQUIREMENTS_H
#define MAVRID_VALIDATE_REQUIREMENTS_H

#include <string>
#include <vector>

struct Requirement {
    std::string id;    // REQ-NNN
    std::string group; // the heading it stands under
    std::string text;  // its sentence, on one line
};

// Every requirement of requirements.md, in its order.  A list item reads
// "- **REQ-NNN** text", continued on lines indented by two blanks.
std::vector<Requirement> parse_requirements(const std::string& markdown);

// The requirements of the copy of requirements.md built into this program.
const std::vector<Requirement>& requirements();

#endif // MAVRID_VALIDATE_REQUIREMENTS_H

// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// requirements.cpp -- the operational requirements, built in.
#include "requirements.h"

#include <sstream>

#include "embedded.h"

std::vector<Requirement> parse_requirements(const std::string& markdown)
{
    std::vector<Requirement> all;
    std::istringstream lines(markdown);
    std::string group;
    bool in_item = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string mark = "- **REQ-";
        if (line.rfind("## ", 0) == 0) {
            group = line.substr(3);
            in_item = false;
        } else if (line.rfind(mark, 0) == 0 && line.size() > mark.size() + 5
                   && line.compare(mark.size() + 3, 3, "** ") == 0) {
            all.push_back({line.substr(4, 7), group, line.substr(mark.size() + 6)});
            in_item = true;
        } else if (in_item && line.rfind("  ", 0) == 0) {
            all.back().text.append(" ").append(line, 2);
        } else {
            in_item = false;
        }
    }
    return all;
}

const std::vector<Requirement>& requirements()
{
    static const std::vector<Requirement> all = parse_requirements(REQUIREMENTS_MD);
    return all;
}

#pragma once

// The running process and its peers, as far as a build needs to know them.

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

std::uint32_t CurrentProcessId();
// True when a process with this id exists (it may belong to another user).
bool ProcessRunning(std::uint32_t id);

// The program's arguments in UTF-8, as the program keeps text. On Windows they come from the
// wide-character command line: main's argv is in the ANSI code page, which turns every name
// beyond it into "?".
std::vector<std::string> CommandLineArguments(int argc, char** argv);

} // namespace vornel

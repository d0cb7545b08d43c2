#pragma once

// Under wine, the tests' peers (python3, zip, unzip) are Linux programs. Wine starts them but
// gives a Windows program neither a handle to wait for nor its pipes, so they run through
// tools/peer-bridge.py, which tools/wine-run.sh starts beside each test.

#include "tests/support/Process.h"

#include <string>
#include <vector>

namespace vornel::test {

// The Linux path of a program the bridge can run; "" when there is no bridge or no such program.
std::string LinuxProgram(const std::string& name);

// Runs args through the bridge, the first one being what LinuxProgram returned.
ProcessResult RunLinuxProgram(const std::vector<std::string>& args, const ProcessOptions& options);

} // namespace vornel::test

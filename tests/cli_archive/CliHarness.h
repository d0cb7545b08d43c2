#pragma once

// Runs the peers (unzip, python3) for the archive verb tests; vornel itself runs through
// VornelRun.h.

#include "tests/support/TestSupport.h"
#include "tests/support/VornelRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel::test {

// Runs a Python script (given as text) in dir with the arguments.
ProcessResult RunPython(const TempDir& dir, const std::string& script,
                        const std::vector<std::string>& args);

// Success when unzip -t accepts the archive; otherwise what unzip said.
::testing::AssertionResult UnzipTestPasses(const std::string& archive);

} // namespace vornel::test

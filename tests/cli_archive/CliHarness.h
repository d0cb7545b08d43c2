#pragma once

// Runs the vornel binary and the peers (zip, unzip, python3) for the archive verb tests.

#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace vornel::test {

using RunResult = ProcessResult;

// Runs "vornel ARGS" in dir, with the temporary folder set to dir/tmp.
RunResult RunVornel(const TempDir& dir, const std::vector<std::string>& args);

// Runs a Python script (given as text) in dir with the arguments.
RunResult RunPython(const TempDir& dir, const std::string& script,
                    const std::vector<std::string>& args);

// True when unzip -t accepts the archive.
bool UnzipTestPasses(const std::string& archive);

} // namespace vornel::test

#pragma once

// Runs the vornel binary and the peers (zip, unzip, python3) for the archive verb tests.

#include "tests/support/TestSupport.h"

#include <string>

namespace vornel::test {

struct RunResult {
  int Code = -1;
  std::string Out;
  std::string Err;
};

// Runs "vornel ARGS" in dir (arguments already quoted), with TMPDIR set to dir/tmp.
RunResult RunVornel(const TempDir& dir, const std::string& args);

// Runs a Python script (given as text) with the arguments; returns its exit code and output.
RunResult RunPython(const TempDir& dir, const std::string& script, const std::string& args);

// Quotes every argument for the shell and joins them with spaces.
std::string Args(std::initializer_list<std::string> args);

// True when unzip -t accepts the archive.
bool UnzipTestPasses(const std::string& archive);

} // namespace vornel::test

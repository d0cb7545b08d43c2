#pragma once

// Running the vornel program the tests were built with.

#include "tests/support/Process.h"
#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace vornel::test {

// The vornel program the tests run ("" when it was not built).
std::string VornelPath();
bool HaveVornel();

// Generous: the limit only catches a hang.
inline constexpr int kVornelTimeoutSeconds = 300;

// Runs "vornel args" in workDir, killed after timeoutSeconds (then TimedOut is set), with env
// changed for it. A wrapper (a program and its arguments) runs vornel in its stead when given.
ProcessResult RunVornel(const std::string& workDir, const std::vector<std::string>& args,
                        int timeoutSeconds = kVornelTimeoutSeconds, const Environment& env = {},
                        const std::vector<std::string>& wrapper = {});

// Runs "vornel args" in dir, with the temporary folder set to dir/tmp.
ProcessResult RunVornel(const TempDir& dir, const std::vector<std::string>& args);

} // namespace vornel::test

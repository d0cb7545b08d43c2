#pragma once

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel::test {

// A clean tree copied from the sample, a working folder, and the vornel programs to run there:
// the Linux one, and vornel.exe under wine when VORNEL_WINDOWS_EXE names one.
class PublishFixture : public ::testing::Test {
protected:
  void SetUp() override;

  std::string Work(const std::string& relative = "") const;
  std::string Clean(const std::string& relative = "") const;

  // The command lines that start each vornel to test: {VornelPath()}, and the wine runner, its
  // prefix and vornel.exe when those are given.
  static std::vector<std::vector<std::string>> Programs();
  // Runs the first program (the Linux vornel) in the working folder.
  ProcessResult Vornel(const std::vector<std::string>& arguments) const;
  ProcessResult Run(const std::vector<std::string>& program,
                    const std::vector<std::string>& arguments) const;
  // Builds the clean tree into the working folder's Upload/, removing stale archives there.
  void Build() const;

  TempDir dir_;
};

} // namespace vornel::test

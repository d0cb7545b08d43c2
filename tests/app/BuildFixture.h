#pragma once

// Shared pieces of the build tests: a view that records what the build shows, a clean tree and a
// working folder in temporary space, and the independent check of an upload set.

#include "app/BuildProcedure.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vornel::test {

// Every call, as text: "step:data/a.txt", "max:3", "reset", "message:Done.3 ...".
class RecordingView : public BuildView {
public:
  void SetProgressMax(std::int32_t maximum) override {
    Calls.push_back("max:" + std::to_string(maximum));
  }
  void StepProgress(const std::string& relativePath) override {
    Calls.push_back("step:" + relativePath);
  }
  void ResetProgress() override { Calls.push_back("reset"); }
  void ShowMessage(const std::string& text) override { Calls.push_back("message:" + text); }
  void ShowWarning(const std::string& text) override { Calls.push_back("warning:" + text); }

  std::vector<std::string> Calls;
};

class BuildFixture : public ::testing::Test {
protected:
  std::string Clean(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "clean" : dir_ / ("clean/" + relative);
  }
  std::string Work(const std::string& relative = "") const {
    return relative.empty() ? dir_ / "work" : dir_ / ("work/" + relative);
  }
  std::string Upload(const std::string& relative = "") const {
    return relative.empty() ? Work("Upload") : Work("Upload/" + relative);
  }
  std::string Manifest() const { return ReadFile(Upload("updates.lst")); }
  // Where a build keeps its work until it is whole; a build that stops or fails leaves it there.
  std::string Staging(const std::string& relative = "") const {
    return relative.empty() ? Work("Upload.staging") : Work("Upload.staging/" + relative);
  }

  void SetUp() override;
  // Writes a file of the clean tree, creating its folders.
  void Put(const std::string& relative, const std::string& bytes = "x") const {
    WriteFile(Clean(relative), bytes);
  }
  BuildOutcome Build(const BuildOptions& options = {}) {
    return packer_.Build(Clean(), Work(), view_, options);
  }
  // The upload set checked by Python's zipfile, zlib and unzip; empty when all is well, the
  // problems otherwise.
  std::string PeerCheck(const std::string& customName = "Teskor.exe",
                        const std::string& skipDir = "") const;

  TempDir dir_;
  Packer packer_{"Teskor.exe"};
  RecordingView view_;
};

// Skips the rest of the test when python3 is missing, as the peer check needs it.
#define EXPECT_PEERS_ACCEPT_UPLOAD(...)                                                            \
  do {                                                                                             \
    SKIP_WITHOUT_PROGRAMS("python3");                                                              \
    EXPECT_EQ(PeerCheck(__VA_ARGS__), "");                                                         \
  } while (false)

} // namespace vornel::test

// The planned fault hits exactly the Nth call of its kind, with the error the system would give,
// and nothing once the plan is cleared.

#include "platform/FaultInjection.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "tests/support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>

namespace vornel {
namespace {

using faults::FaultCall;
using faults::FaultError;

TEST(FaultInjectionTest, OnlyTheNthCallFailsWithThePlannedError) {
  test::TempDir dir;
  const std::string path = dir / "a.bin";
  FileStream file(path, FileStream::Mode::Create);
  {
    faults::ScopedFaultPlan plan(FaultCall::Write, 2, FaultError::DiskFull);
    file.WriteString("one");
    try {
      file.WriteString("two");
      ADD_FAILURE() << "the second write went through";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.ErrorCode(), io_error::DiskFull);
      EXPECT_EQ(error.Path(), path);
    }
    file.WriteString("three");
    EXPECT_EQ(faults::CallsSeen(FaultCall::Write), 3);
  }
  file.WriteString("four");
  EXPECT_EQ(faults::CallsSeen(FaultCall::Write), 3); // no plan, no count
  EXPECT_EQ(test::ReadFile(path), "onethreefour");

  const struct {
    FaultCall Call;
    FaultError Error;
    int Code;
    std::function<void()> Run;
  } cases[] = {
      {FaultCall::Rename, FaultError::DeviceError, io_error::DeviceError,
       [&] { RenameFile(path, dir / "b.bin"); }},
      {FaultCall::CreateFolder, FaultError::AccessDenied, -1,
       [&] { EXPECT_FALSE(CreateDir(dir / "sub")); }},
      {FaultCall::Open, FaultError::AccessDenied, 0,
       [&] { FileStream(path, FileStream::Mode::OpenRead); }},
  };
  for (const auto& c : cases) {
    faults::ScopedFaultPlan plan(c.Call, 1, c.Error);
    int code = -1;
    try {
      c.Run();
    } catch (const EInOutError& error) {
      code = error.ErrorCode();
    } catch (const EFOpenError&) {
      code = 0;
    }
    EXPECT_EQ(code, c.Code) << static_cast<int>(c.Call);
    EXPECT_EQ(faults::CallsSeen(c.Call), 1);
  }
  EXPECT_TRUE(FileExists(path)); // the rename did not happen
  EXPECT_TRUE(CreateDir(dir / "sub"));
}

} // namespace
} // namespace vornel

#include "platform/Errors.h"
#include "tests/support/Process.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace vornel {
namespace {

TEST(IoErrorTest, ErrnoValuesMapToTheClassicCodes) {
  const std::pair<int, int> cases[] = {
      {ENOENT, 2},   {ENOTDIR, 3},   {ENAMETOOLONG, 3}, {EINVAL, 3}, {EMFILE, 4},
      {ENFILE, 4},   {EACCES, 5},    {EPERM, 5},        {EROFS, 5},  {EISDIR, 5},
      {ENOSPC, 101}, {EFBIG, EFBIG}, {ESPIPE, ESPIPE}};
#ifdef EDQUOT // a quota's end is a full disk too, where the system has quotas
  EXPECT_EQ(IoErrorCodeFromErrno(EDQUOT), 101);
#endif
  for (const auto& [err, code] : cases)
    EXPECT_EQ(IoErrorCodeFromErrno(err), code) << std::strerror(err);
}

// EIO is 5 and ENETUNREACH 101: passed through, a failing disk would read "File access denied"
// and a lost network share "Disk full".
TEST(IoErrorTest, ErrnoValuesNeverPoseAsNamedCodes) {
  if (test::OnWindows())
    GTEST_SKIP() << "the errno values of the POSIX side; Windows maps its own error codes";
  for (int err : {EIO, ESRCH, EINTR, ENETDOWN, ENETUNREACH, EISCONN}) {
    EXPECT_EQ(IoErrorCodeFromErrno(err), io_error::DeviceError) << std::strerror(err);
  }
  EXPECT_EQ(IoErrorMessage(io_error::DeviceError), "The device failed to read or write");
}

TEST(IoErrorTest, CodesCarryTheirFixedMessages) {
  EXPECT_EQ(IoErrorMessage(2), "File not found");
  EXPECT_EQ(IoErrorMessage(3), "Invalid filename");
  EXPECT_EQ(IoErrorMessage(4), "Too many open files");
  EXPECT_EQ(IoErrorMessage(5), "File access denied");
  EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
  EXPECT_EQ(IoErrorMessage(101), "Disk full");
  EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
  EXPECT_EQ(IoErrorMessage(131), "Seek to a position before the start of the file");
  if (test::OnWindows())
    GTEST_SKIP() << "other codes are Windows' own there, with Windows' texts";
  // Other codes name their cause in a sentence, never as a bare number.
  EXPECT_EQ(IoErrorMessage(EFBIG), std::strerror(EFBIG));
  EXPECT_EQ(IoErrorMessage(ELOOP), std::strerror(ELOOP));
  EXPECT_EQ(IoErrorMessage(131), "Seek to a position before the start of the file");
  EXPECT_EQ(IoErrorMessage(99999), "I/O error 99999");
}

TEST(IoErrorTest, RaisedErrorKeepsCodeAndMessageThenNamesItsSubject) {
  try {
    RaiseIoErrorFromErrno(ENOSPC);
    FAIL() << "nothing raised";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), io_error::DiskFull);
    EXPECT_STREQ(error.what(), "Disk full");
  }
  try {
    RaiseIoErrorFromErrno(ENOSPC, "Upload/a.txt.zip", IoOperation::Write);
    FAIL() << "nothing raised";
  } catch (const EIoError& error) {
    EXPECT_STREQ(error.what(), "Disk full: \"Upload/a.txt.zip\".");
    EXPECT_EQ(error.Path(), "Upload/a.txt.zip");
    EXPECT_EQ(error.Operation(), IoOperation::Write);
    EXPECT_EQ(error.PlatformCode(), ENOSPC);
    const EInOutError told =
        dynamic_cast<const EInOutError&>(error).WithPath("a.txt").WithNote("Kept");
    EXPECT_STREQ(told.what(), "Disk full: \"a.txt\". Kept");
    EXPECT_EQ(told.PlatformCode(), ENOSPC);
  }
}

TEST(FileErrorTest, MessagesNamePathAndReason) {
  if (test::OnWindows())
    GTEST_SKIP() << "errno reasons are the POSIX side's; Windows gives its own texts";
  EXPECT_EQ(std::string(EFOpenError("/x/a b.txt", ENOENT).what()),
            std::string("Cannot open file \"/x/a b.txt\". ") + std::strerror(ENOENT));
  EXPECT_EQ(std::string(EFCreateError("out.zip", EACCES).what()),
            std::string("Cannot create file \"out.zip\". ") + std::strerror(EACCES));
}

TEST(ErrorBoxTextTest, FullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ErrorBoxText("Disk full"), "Disk full.");
  EXPECT_EQ(ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(ErrorBoxText("Why?"), "Why?.");  // '?' sorts after '.'
  EXPECT_EQ(ErrorBoxText("Hm!"), "Hm!");     // '!' sorts before '.'
  EXPECT_EQ(ErrorBoxText("path-"), "path-"); // '-' sorts before '.'
  EXPECT_EQ(ErrorBoxText("size 7"), "size 7.");
  EXPECT_EQ(ErrorBoxText("caf\xC3\xA9"), "caf\xC3\xA9."); // high bytes compare unsigned
  EXPECT_EQ(ErrorBoxText(""), "");
}

} // namespace
} // namespace vornel

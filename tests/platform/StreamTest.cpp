#include "platform/Stream.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vornel {
namespace {

using test::NewFileProblems;
using test::OnWindows;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Runs body and returns the code of the EInOutError it raises (-1 when it raises none).
template <typename Body> int IoErrorCodeOf(Body body) {
  try {
    body();
  } catch (const EInOutError& error) {
    return error.ErrorCode();
  }
  return -1;
}

TEST(FileStreamTest, OpenFailuresNameThePath) {
  TempDir dir;
  const std::string missing = dir / "missing.bin";
  try {
    FileStream stream(missing, FileStream::Mode::OpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& error) {
    EXPECT_NE(std::string(error.what()).find("Cannot open file \"" + missing + "\". "),
              std::string::npos);
  }
  EXPECT_THROW(FileStream(dir / "no/such/dir/a.zip", FileStream::Mode::Create), EFCreateError);
  EXPECT_THROW(FileStream(dir.Str(), FileStream::Mode::OpenRead), EFOpenError);
}

TEST(FileStreamTest, CreateReplacesAndReadsBack) {
  TempDir dir;
  const std::string path = dir / "a.bin";
  WriteFile(path, "old content that is longer");
  {
    FileStream stream(path, FileStream::Mode::Create);
    EXPECT_EQ(stream.Size(), 0);
    stream.WriteString("new");
  }
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(NewFileProblems(path, FileStream(path, FileStream::Mode::OpenRead).Handle()), "");
}

TEST(FileStreamTest, ShortReadIsReportedOnlyByRead) {
  TempDir dir;
  const std::string path = dir / "five.bin";
  WriteFile(path, "12345");
  FileStream stream(path, FileStream::Mode::OpenRead);
  char buffer[16] = {};
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
  stream.SetPosition(2);
  EXPECT_EQ(stream.ReadString(3), "345");
  stream.SetPosition(2);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.ReadBuffer(buffer, 4); }), io_error::ReadBeyondEnd);
}

TEST(FileStreamTest, WriteToFullDeviceIsDiskFull) {
  if (OnWindows() || !std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  FileStream stream("/dev/full", FileStream::Mode::OpenReadWrite);
  std::string block(4096, 'x');
  EXPECT_EQ(IoErrorCodeOf([&] { stream.WriteString(block); }), io_error::DiskFull);
}

TEST(FileStreamTest, ReadOnlyStreamRefusesWritesAndResizes) {
  TempDir dir;
  const std::string path = dir / "r.bin";
  WriteFile(path, "abc");
  FileStream stream(path, FileStream::Mode::OpenRead);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.WriteString("x"); }), io_error::AccessDenied);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.SetSize(10); }), io_error::AccessDenied);
  EXPECT_EQ(ReadFile(path), "abc");
}

TEST(FileStreamTest, SetSizeGrowsWithZerosAndShrinks) {
  TempDir dir;
  const std::string path = dir / "s.bin";
  FileStream stream(path, FileStream::Mode::Create);
  stream.WriteString("abc");
  stream.SetSize(100'000);
  EXPECT_EQ(stream.Size(), 100'000);
  EXPECT_EQ(stream.Position(), 3); // the position stays where it was
  stream.SetSize(2);
  EXPECT_EQ(stream.Size(), 2);
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadString(2), "ab");
  stream.SetSize(6);
  stream.SetPosition(0);
  EXPECT_EQ(stream.ReadString(6), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(IoErrorCodeOf([&] { stream.SetSize(-1); }), io_error::NegativeSeek);
}

TEST(FileStreamTest, SeekBeyondEndWritesAGapOfZerosAndNegativeSeekRaises) {
  TempDir dir;
  const std::string path = dir / "g.bin";
  {
    FileStream stream(path, FileStream::Mode::Create);
    EXPECT_EQ(stream.Seek(4, SeekOrigin::End), 4);
    stream.WriteString("z");
    EXPECT_EQ(stream.Seek(-2, SeekOrigin::Current), 3);
    EXPECT_EQ(IoErrorCodeOf([&] { stream.Seek(-10, SeekOrigin::Current); }),
              io_error::NegativeSeek);
  }
  EXPECT_EQ(ReadFile(path), std::string("\0\0\0\0z", 5));
}

TEST(MemoryStreamTest, GrowsOnWriteAndZeroFillsGaps) {
  MemoryStream stream;
  stream.WriteString("abc");
  EXPECT_EQ(stream.Seek(2, SeekOrigin::End), 5);
  EXPECT_EQ(stream.Size(), 3); // seeking alone does not grow
  char c;
  EXPECT_EQ(stream.Read(&c, 1), 0u);
  stream.WriteString("Z");
  EXPECT_EQ(stream.Bytes(), std::string("abc\0\0Z", 6));
  stream.SetPosition(1);
  stream.WriteString("XY");
  EXPECT_EQ(stream.Bytes(), std::string("aXY\0\0Z", 6));
  EXPECT_EQ(stream.Position(), 3);
}

TEST(MemoryStreamTest, SetSizeZeroFillsAndKeepsPosition) {
  MemoryStream stream(std::string("hello"));
  stream.SetPosition(4);
  stream.SetSize(2);
  EXPECT_EQ(stream.Bytes(), "he");
  EXPECT_EQ(stream.Position(), 4);
  stream.SetSize(4);
  EXPECT_EQ(stream.Bytes(), std::string("he\0\0", 4));
  EXPECT_EQ(IoErrorCodeOf([&] { stream.SetSize(-5); }), io_error::NegativeSeek);
  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(MemoryStreamTest, ReadsAreShortAtTheEndAndNegativePositionsRaise) {
  MemoryStream stream(std::string("0123456789"));
  stream.SetPosition(7);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 3u);
  EXPECT_EQ(std::string(buffer, 3), "789");
  stream.SetPosition(7);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.ReadBuffer(buffer, 4); }), io_error::ReadBeyondEnd);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.Seek(-11, SeekOrigin::End); }), io_error::NegativeSeek);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.Seek(-1, SeekOrigin::Begin); }), io_error::NegativeSeek);
  // A length field claiming far more than there is fails without allocating it first.
  stream.SetPosition(0);
  EXPECT_EQ(IoErrorCodeOf([&] { stream.ReadString(std::size_t{1} << 40); }),
            io_error::ReadBeyondEnd);
  EXPECT_EQ(stream.Seek(-10, SeekOrigin::End), 0);
}

TEST(CopyFromTest, CountZeroCopiesTheWholeSourceFromItsStart) {
  const std::string data = test::RandomBytes(200'000, 7); // several 64 KiB blocks
  MemoryStream source(data);
  source.SetPosition(12'345);
  MemoryStream target;
  target.WriteString("head");
  EXPECT_EQ(target.CopyFrom(source, 0), 200'000);
  EXPECT_EQ(target.Bytes(), "head" + data);
  EXPECT_EQ(source.Position(), 200'000);
  source.SetPosition(0);
  EXPECT_EQ(source.ReadString(200'000), data);
}

TEST(CopyFromTest, CountCopiesFromTheCurrentPositionIntoAFile) {
  TempDir dir;
  const std::string data = test::RandomBytes(150'000, 8);
  MemoryStream source(data);
  source.SetPosition(1000);
  {
    FileStream target(dir / "c.bin", FileStream::Mode::Create);
    EXPECT_EQ(target.CopyFrom(source, 140'000), 140'000);
  }
  EXPECT_EQ(ReadFile(dir / "c.bin"), data.substr(1000, 140'000));
}

TEST(CopyFromTest, ShortSourceRaisesReadBeyondEnd) {
  MemoryStream source(test::RandomBytes(70'000, 9));
  MemoryStream target;
  EXPECT_EQ(IoErrorCodeOf([&] { target.CopyFrom(source, 70'001); }), io_error::ReadBeyondEnd);
}

} // namespace
} // namespace vornel

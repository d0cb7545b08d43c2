#include "platform/DateTime.h"
#include "platform/Errors.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vornel {
namespace {

std::vector<int> Fields(TDateTime value) {
  const DateTimeFields f = DecodeDateTime(value);
  return {f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second, f.Millisecond};
}

TEST(DateTimeTest, EncodesDaysSinceTheEpochWithTimeAsFraction) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 18, 0, 0, 0), 2.75);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1980, 1, 1, 0, 0, 0, 0), 29221.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 3, 1, 12, 0, 0, 0), 36586.5);
  // Before the epoch the time still counts forward: 29 December 1899, 06:00 is -1.25.
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_EQ(Fields(-1.25), (std::vector<int>{1899, 12, 29, 6, 0, 0, 0}));
}

TEST(DateTimeTest, DecodeRoundsToTheNearestMillisecond) {
  for (int ms : {0, 1, 499, 500, 998, 999}) {
    const TDateTime value = EncodeDateTime(2023, 12, 31, 23, 59, 59, ms);
    EXPECT_EQ(Fields(value), (std::vector<int>{2023, 12, 31, 23, 59, 59, ms}));
  }
  // Just short of midnight rounds up into the next day, also across a leap day.
  EXPECT_EQ(Fields(EncodeDateTime(2024, 2, 29, 0, 0, 0, 0) - 1e-10),
            (std::vector<int>{2024, 2, 29, 0, 0, 0, 0}));
  EXPECT_EQ(Fields(EncodeDateTime(2024, 2, 28, 23, 59, 59, 999)),
            (std::vector<int>{2024, 2, 28, 23, 59, 59, 999}));
}

TEST(DateTimeTest, CheckedEncodingRefusesInvalidFields) {
  EXPECT_THROW(EncodeDateTimeChecked(2023, 2, 29, 0, 0, 0, 0), EConvertError);
  EXPECT_NO_THROW(EncodeDateTimeChecked(2024, 2, 29, 0, 0, 0, 0));
  EXPECT_THROW(EncodeDateTimeChecked(2023, 13, 1, 0, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeDateTimeChecked(2023, 1, 1, 24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeDateTimeChecked(2023, 1, 1, 0, 0, 0, 1000), EConvertError);
  try {
    EncodeDateTimeChecked(2023, 0, 1, 0, 0, 0, 0);
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Invalid argument to date encode");
  }
}

TEST(DateTimeTest, NonFiniteValuesDoNotDecode) {
  EXPECT_THROW(DecodeDateTime(NAN), EConvertError);
  EXPECT_THROW(DecodeDateTime(INFINITY), EConvertError);
  EXPECT_EQ(DateTimeToDosDateTime(NAN), 0u);
}

TEST(DosDateTimeTest, PacksDateHighAndTimeLow) {
  const std::uint32_t dos = DateTimeToDosDateTime(EncodeDateTime(2021, 3, 4, 5, 6, 7, 900));
  EXPECT_EQ(dos >> 16, (2021u - 1980) * 512 + 3 * 32 + 4);
  EXPECT_EQ(dos & 0xFFFF, 5u * 2048 + 6 * 32 + 3); // odd seconds round down
  EXPECT_EQ(Fields(DosDateTimeToDateTime(dos)), (std::vector<int>{2021, 3, 4, 5, 6, 6, 0}));
}

TEST(DosDateTimeTest, RangeIs1980To2107) {
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(1979, 12, 31, 23, 59, 59, 0)), 0u);
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(2108, 1, 1, 0, 0, 0, 0)), 0u);
  const std::uint32_t first = DateTimeToDosDateTime(EncodeDateTime(1980, 1, 1, 0, 0, 0, 0));
  EXPECT_EQ(first, 0x00210000u);
  const std::uint32_t last = DateTimeToDosDateTime(EncodeDateTime(2107, 12, 31, 23, 59, 58, 0));
  EXPECT_EQ(last, 0xFF9FBF7Du);
  EXPECT_EQ(Fields(DosDateTimeToDateTime(last)), (std::vector<int>{2107, 12, 31, 23, 59, 58, 0}));
}

TEST(DosDateTimeTest, EveryEvenSecondOfADayRoundTrips) {
  for (int second = 0; second < 86400; second += 2) {
    const TDateTime value =
        EncodeDateTime(2004, 2, 29, second / 3600, second / 60 % 60, second % 60, 0);
    ASSERT_DOUBLE_EQ(DosDateTimeToDateTime(DateTimeToDosDateTime(value)), value) << second;
  }
}

TEST(DosDateTimeTest, InvalidValuesRaise) {
  const auto pack = [](unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s2) {
    return ((y - 1980) * 512 + mo * 32 + d) << 16 | (h * 2048 + mi * 32 + s2);
  };
  EXPECT_THROW(DosDateTimeToDateTime(0), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 0, 1, 0, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 13, 1, 0, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 1, 0, 0, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2001, 2, 29, 0, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 4, 31, 0, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 1, 1, 24, 0, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 1, 1, 0, 60, 0)), EConvertError);
  EXPECT_THROW(DosDateTimeToDateTime(pack(2000, 1, 1, 0, 0, 30)), EConvertError);
  EXPECT_NO_THROW(DosDateTimeToDateTime(pack(2000, 2, 29, 23, 59, 29)));
}

TEST(LocalTimeTest, UnixTimeFollowsLocaltime) {
  const std::time_t t = 1'700'000'000;
  const std::tm local = *std::localtime(&t); // the test runs on one thread
  EXPECT_EQ(Fields(UnixTimeToLocalDateTime(t, 123'999'999)),
            (std::vector<int>{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec, 123}));
  const TDateTime now = Now();
  EXPECT_GT(now, EncodeDateTime(2020, 1, 1, 0, 0, 0, 0));
}

} // namespace
} // namespace vornel

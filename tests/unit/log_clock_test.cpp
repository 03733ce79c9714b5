// The event log's line format, at a set time (the settable clock exists in
// the POSIX build).
#include <gtest/gtest.h>

#include <string>

#include "config/simple_log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace {

struct StampCase {
  SYSTEMTIME time;
  const char* expected;
};

TEST(EventLogFormat, TimeStampIsFilledFieldByField) {
  const StampCase cases[] = {
      {{2010, 3, 5, 5, 14, 7, 9, 42}, "[05-03-2010  14:07.09]..042]  Test\r\n"},
      {{2026, 12, 5, 31, 23, 59, 58, 999}, "[31-12-2026  23:59.58]..999]  Test\r\n"},
      {{2001, 1, 1, 1, 0, 0, 0, 0}, "[01-01-2001  00:00.00]..000]  Test\r\n"},
  };
  for (const StampCase& c : cases) {
    testing_support::TempDir dir;
    std::string path = dir / "Vastel.log";
    platform::clock::SetLocalTime(c.time);
    CSimpleLog log(path.c_str());
    EXPECT_TRUE(log.Write("Test"));
    platform::clock::UseSystemTime();
    EXPECT_EQ(testing_support::ReadBytes(path), c.expected);
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "schedule.h"
#include "support/temp_dir.h"

namespace vagent {
namespace {

std::time_t Local(int y, int mo, int d, int h, int mi, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string Text(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

class DailyScheduleTest : public ::testing::Test {
 protected:
  // London: clocks go from 01:00 to 02:00 on 29 March 2026.
  void SetUp() override { ::tzset(); }
  void TearDown() override { ::tzset(); }
  testsupport::ScopedEnv tz{"TZ", "Europe/London"};
};

TEST_F(DailyScheduleTest, TheNextOccurrenceFollowsIntervalAndTime) {
  struct Case {
    int32_t interval, startDate, startTime;
    std::time_t after;
    std::string next;
  };
  const std::vector<Case> cases = {
      {1, 20260105, 20000, Local(2026, 1, 5, 1, 0), "2026-01-05 02:00:00"},
      {1, 20260105, 20000, Local(2026, 1, 5, 2, 0), "2026-01-06 02:00:00"},
      {3, 20260105, 20000, Local(2026, 1, 6, 12, 0), "2026-01-08 02:00:00"},
      {7, 20260105, 230000, Local(2026, 2, 1, 0, 0), "2026-02-02 23:00:00"},
      {1, 20260105, 0, Local(2026, 1, 5, 0, 0, 1), "2026-01-06 00:00:00"},
      // "24:00" is midnight at the end of the day.
      {1, 20260105, 240000, Local(2026, 1, 5, 12, 0), "2026-01-06 00:00:00"},
      {2, 20260105, 240000, Local(2026, 1, 6, 1, 0), "2026-01-08 00:00:00"},
      // A time the change to summer time skips runs at the first minute after the gap.
      {1, 20260301, 13000, Local(2026, 3, 28, 12, 0), "2026-03-29 02:00:00"},
      {1, 20260301, 13000, Local(2026, 3, 29, 12, 0), "2026-03-30 01:30:00"},
  };
  for (const Case& c : cases) {
    agent::Schedule s;
    s.interval = c.interval;
    s.activeStartDate = c.startDate;
    s.activeStartTime = c.startTime;
    auto next = NextOccurrence(s, c.after);
    ASSERT_TRUE(next);
    EXPECT_EQ(Text(*next), c.next) << c.startDate << " " << c.startTime << " after " << Text(c.after);
  }
}

TEST_F(DailyScheduleTest, NoOccurrenceAfterTheEndDateOrForOtherTypes) {
  agent::Schedule s;
  s.activeStartDate = 20260105;
  s.activeStartTime = 20000;
  s.activeEndDate = 20260110;
  EXPECT_FALSE(NextOccurrence(s, Local(2026, 1, 10, 3, 0)));
  s.activeEndDate = 99991231;
  s.frequencyType = 8;
  EXPECT_FALSE(NextOccurrence(s, Local(2026, 1, 10, 3, 0)));
}

}  // namespace
}  // namespace vagent

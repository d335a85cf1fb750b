#include "schedule.h"

namespace vagent {

namespace {

std::time_t Occurrence(const agent::Schedule& s, long day) {
  std::tm tm{};
  tm.tm_year = s.activeStartDate / 10000 - 1900;
  tm.tm_mon = s.activeStartDate / 100 % 100 - 1;
  tm.tm_mday = static_cast<int>(s.activeStartDate % 100 + day);
  tm.tm_hour = s.activeStartTime / 10000;
  tm.tm_min = s.activeStartTime / 100 % 100;
  tm.tm_sec = s.activeStartTime % 100;
  tm.tm_isdst = -1;
  std::tm want = tm;
  std::time_t t = std::mktime(&tm);
  if (want.tm_hour < 24 && (tm.tm_hour != want.tm_hour || tm.tm_min != want.tm_min)) {
    // The wall time does not exist that day: mktime moved it past the gap by the gap's length;
    // walk back to the first minute after the gap.
    int wanted = want.tm_hour * 60 + want.tm_min;
    while (true) {
      std::time_t before = t - 60;
      std::tm b{};
      localtime_r(&before, &b);
      if (b.tm_mday != tm.tm_mday || b.tm_hour * 60 + b.tm_min <= wanted) break;
      t = before;
    }
  }
  return t;
}

long DayIndex(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return static_cast<long>(std::mktime(&tm) / 86400);
}

}  // namespace

std::optional<std::time_t> NextOccurrence(const agent::Schedule& s, std::time_t after) {
  if (s.frequencyType != 4 || s.interval < 1 || s.activeStartDate <= 0) return std::nullopt;
  std::tm a{};
  localtime_r(&after, &a);
  long first = DayIndex(s.activeStartDate / 10000, s.activeStartDate / 100 % 100, s.activeStartDate % 100);
  long now = DayIndex(a.tm_year + 1900, a.tm_mon + 1, a.tm_mday);
  long k = now - first > 1 ? (now - first - 1) / s.interval : 0;
  for (;; ++k) {
    std::time_t t = Occurrence(s, k * s.interval);
    if (agent::DateNumber(t) > s.activeEndDate) return std::nullopt;
    if (t > after) return t;
  }
}

}  // namespace vagent

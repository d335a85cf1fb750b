#include "automation/vbdate.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace automation {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

// Splits an OLE date into its day number and milliseconds into the day.
void Split(double v, int64_t& day, int64_t& ms) {
  double whole = std::trunc(v);
  day = static_cast<int64_t>(whole);
  ms = std::llround(std::fabs(v - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += 1;
  }
}

std::string TimeText(int64_t ms) {
  int64_t secs = (ms + 500) / 1000;
  int h = static_cast<int>(secs / 3600 % 24), mi = static_cast<int>(secs / 60 % 60),
      s = static_cast<int>(secs % 60);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, mi, s,
                h < 12 ? "AM" : "PM");
  return buf;
}

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};

// A small cursor over the text being parsed.
struct Cursor {
  std::string_view s;
  size_t i = 0;
  bool End() const { return i >= s.size(); }
  void Blanks() {
    while (!End() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  bool Eat(char c) {
    if (!End() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  // Reads 1 to maxDigits digits.
  bool Number(int& out, int& digits, int maxDigits = 9) {
    digits = 0;
    out = 0;
    while (!End() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < maxDigits) {
      out = out * 10 + (s[i] - '0');
      ++i;
      ++digits;
    }
    return digits > 0;
  }
  bool Word(std::string& out) {
    out.clear();
    while (!End() && std::isalpha(static_cast<unsigned char>(s[i])))
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(s[i++])));
    return !out.empty();
  }
};

int FullYear(int y, int digits) {
  if (digits <= 2) return y < 30 ? 2000 + y : 1900 + y;
  return y;
}

// Parses "h:mm[:ss[.fff]][ AM|PM]" at the cursor into milliseconds; the cursor must end there.
bool ParseTime(Cursor& c, DateParts& p) {
  int h, mi, s = 0, ms = 0, n;
  if (!c.Number(h, n, 2) || !c.Eat(':') || !c.Number(mi, n, 2) || n != 2) return false;
  if (c.Eat(':')) {
    if (!c.Number(s, n, 2) || n != 2) return false;
    if (c.Eat('.')) {
      int frac, fd;
      if (!c.Number(frac, fd, 9)) return false;
      double f = frac / std::pow(10.0, fd);
      ms = static_cast<int>(std::lround(f * 1000));
      if (ms >= 1000) ms = 999;
    }
  }
  c.Blanks();
  std::string w;
  if (c.Word(w)) {
    if (w != "am" && w != "pm" && w != "a" && w != "p") return false;
    if (h < 1 || h > 12) return false;
    if (w[0] == 'a') h = h == 12 ? 0 : h;
    else h = h == 12 ? 12 : h + 12;
  }
  c.Blanks();
  if (!c.End()) return false;
  if (h > 23 || mi > 59 || s > 59) return false;
  p.hour = h;
  p.minute = mi;
  p.second = s;
  p.millisecond = ms;
  return true;
}

bool ParseOptionalTime(Cursor& c, DateParts& p) {
  c.Blanks();
  if (c.End()) return true;
  return ParseTime(c, p);
}

std::mutex g_clockMutex;
std::optional<Date> g_fixedClock;
std::atomic<bool> g_clockFixed{false};

}  // namespace

std::optional<Date> MakeDate(const DateParts& p) {
  if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month))
    return std::nullopt;
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
      p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
    return std::nullopt;
  int64_t day = DaysFromCivil(p.year, p.month, p.day) - kOleEpoch;
  double frac = (((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond) / 86400000.0;
  return Date{day >= 0 ? day + frac : day - frac};
}

DateParts SplitDate(Date d) {
  int64_t day, ms;
  Split(d.value, day, ms);
  DateParts p;
  CivilFromDays(day + kOleEpoch, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

Date DateOnly(Date d) {
  int64_t day, ms;
  Split(d.value, day, ms);
  return Date{static_cast<double>(day)};
}

int Weekday(Date d) {
  int64_t day, ms;
  Split(d.value, day, ms);
  // 30 December 1899 was a Saturday (7).
  int64_t w = (day % 7 + 7) % 7;  // 0 = Saturday
  return static_cast<int>(w == 0 ? 7 : w);
}

std::string FormatDate(Date d) {
  int64_t day, ms;
  Split(d.value, day, ms);
  if (day == 0) return TimeText(ms);  // a time alone (and the zero date) prints as a time
  int y, m, dd;
  CivilFromDays(day + kOleEpoch, y, m, dd);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", m, dd, y);
  if (ms == 0) return buf;
  return std::string(buf) + " " + TimeText(ms);
}

std::string FormatDbDate(Date d) {
  DateParts p = SplitDate(d);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond);
  return buf;
}

std::string ShortDateText(Date d) {
  DateParts p = SplitDate(d);
  return std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
}

std::string ShortTimeText(Date d) {
  DateParts p = SplitDate(d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
  return buf;
}

std::string IsoDate(Date d) { return FormatDbDate(d).substr(0, 10); }

std::optional<Date> ParseDate(std::string_view text) {
  Cursor c{text};
  c.Blanks();
  size_t start = c.i;
  DateParts p;
  int a, an;
  if (!c.Number(a, an)) {
    return std::nullopt;
  }
  if (!c.End() && c.s[c.i] == ':') {  // a time alone
    c.i = start;
    if (!ParseTime(c, p)) return std::nullopt;
    p.year = 1899;
    p.month = 12;
    p.day = 30;
    return MakeDate(p);
  }
  if (c.Eat('-')) {
    if (an == 4) {  // yyyy-mm-dd
      int m, mn, d, dn;
      if (!c.Number(m, mn, 2) || !c.Eat('-') || !c.Number(d, dn, 2)) return std::nullopt;
      p.year = a;
      p.month = m;
      p.day = d;
      if (!c.End() && (c.s[c.i] == 'T' || c.s[c.i] == 't')) {
        ++c.i;
        if (!ParseTime(c, p)) return std::nullopt;
      } else if (!ParseOptionalTime(c, p)) {
        return std::nullopt;
      }
      return MakeDate(p);
    }
    std::string w;  // d-MMM-yyyy
    if (!c.Word(w) || w.size() < 3 || !c.Eat('-')) return std::nullopt;
    int month = 0;
    for (int i = 0; i < 12; ++i)
      if (w.compare(0, 3, kMonths[i]) == 0) month = i + 1;
    if (month == 0) return std::nullopt;
    int y, yn;
    if (!c.Number(y, yn, 4)) return std::nullopt;
    p.year = FullYear(y, yn);
    p.month = month;
    p.day = a;
    if (!ParseOptionalTime(c, p)) return std::nullopt;
    return MakeDate(p);
  }
  if (c.Eat('/')) {
    int b, bn, y, yn;
    if (!c.Number(b, bn, 2) || !c.Eat('/') || !c.Number(y, yn, 4)) return std::nullopt;
    if (an == 4) {  // yyyy/m/d
      p.year = a;
      p.month = b;
      p.day = y;
    } else {  // M/d/yyyy
      p.month = a;
      p.day = b;
      p.year = FullYear(y, yn);
    }
    if (!ParseOptionalTime(c, p)) return std::nullopt;
    return MakeDate(p);
  }
  return std::nullopt;
}

Date Now() {
  if (g_clockFixed.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    if (g_fixedClock) return *g_fixedClock;
  }
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  DateParts p{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
              local.tm_min,        std::min(local.tm_sec, 59), static_cast<int>(ts.tv_nsec / 1000000)};
  return *MakeDate(p);
}

Date Today() { return DateOnly(Now()); }

void SetClockForTesting(std::optional<Date> fixed) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_fixedClock = fixed;
  g_clockFixed.store(fixed.has_value(), std::memory_order_release);
}

}  // namespace automation

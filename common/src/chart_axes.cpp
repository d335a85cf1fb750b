#include "common/chart_axes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "automation/vbdate.h"

namespace tamsolo::chart {

namespace {

using automation::Date;

constexpr std::array<uint32_t, 8> kSeriesColors{
    0x000000, 0x0000CE, 0x009CCE, 0xFF0033, 0x99CCCC, 0xCC0099, 0x0066FF, 0xFF9900};
constexpr std::array<int, 6> kStepDays{1, 7, 30, 90, 365, 1825};
constexpr std::array<int, 6> kStepMonths{0, 0, 1, 3, 12, 60};
constexpr std::array<int, 5> kCountSteps{5, 10, 20, 25, 50};
constexpr int kMaxDateTicks = 101;
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

Box Shrink(const Box& b, int by) { return {b.left + by, b.top + by, b.right - by, b.bottom - by}; }

int Trunc(double v) {
  if (!(v > -2e9)) return -2000000000;
  if (v > 2e9) return 2000000000;
  return static_cast<int>(v);
}

// Day 1 of the month `months` after the date's month.
double FirstOfMonth(double date, int months) {
  automation::DateParts p = automation::SplitDate(Date{date});
  int index = p.year * 12 + (p.month - 1) + months;
  std::optional<Date> d = automation::MakeDate({index / 12, index % 12 + 1, 1});
  return d ? d->value : date;
}

// The day-of-week move of week and month ticks: a date on day of week d other than 1 (Sunday)
// goes forward by 7 - d days.
double ForwardWeek(double date) {
  const int d = automation::Weekday(Date{date});
  return d == 1 ? date : date + (7 - d);
}

double AlignStart(double start, int step) {
  if (step == kWeek) {
    const int d = automation::Weekday(Date{start});
    return d == 1 ? start : start - d;
  }
  if (step == kMonth && automation::SplitDate(Date{start}).day != 1) return ForwardWeek(FirstOfMonth(start, 0));
  return start;
}

double FirstTick(double start, int step) {
  switch (step) {
    case kDay: return start;
    case kWeek: return ForwardWeek(start);
    case kMonth: return ForwardWeek(FirstOfMonth(start, 0));
    default: break;
  }
  // Day 1 of the first quarter, year or five-year boundary at or after the start.
  automation::DateParts p = automation::SplitDate(Date{start});
  const int span = kStepMonths[step];
  int index = p.year * 12 + (p.month - 1);
  const bool onBoundary = p.day == 1 && p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0;
  if (!onBoundary) ++index;
  while (index % span != 0) ++index;
  std::optional<Date> d = automation::MakeDate({index / 12, index % 12 + 1, 1});
  return d ? d->value : start;
}

double NextTick(double tick, int step) {
  if (step == kDay) return tick + 1;
  if (step == kWeek) return tick + 7;
  if (step == kMonth) return ForwardWeek(FirstOfMonth(tick, 1));
  return FirstOfMonth(tick, kStepMonths[step]);
}

std::string TickLabel(double date, int step) {
  if (step <= kMonth) return automation::ShortDateText(Date{date});
  automation::DateParts p = automation::SplitDate(Date{date});
  return std::string(kMonthNames[p.month - 1]) + " " + std::to_string(p.year);
}

// The candidate count step by the axis range, then coarser while a step is under 20 pixels.
int CountStep(double range, double pixelsPerRange) {
  size_t s = range <= 20 ? 0 : range <= 50 ? 1 : range <= 100 ? 2 : range <= 250 ? 3 : 4;
  while (s + 1 < kCountSteps.size() && Trunc(kCountSteps[s] * pixelsPerRange) < 20) ++s;
  return kCountSteps[s];
}

// Grid lines and labels up the frame; never more than one per pixel row.
// Labels "%.0f" of the value, or with `barLabels` "%4.1d".
std::vector<CountTick> CountTicks(const Box& frame, int step, double perCount, double min, bool barLabels) {
  std::vector<CountTick> ticks;
  const double p = step * perCount;
  const int count = p > 0 ? std::min(Trunc(frame.Height() / p), frame.Height()) : 0;
  for (int i = 0; i <= count; ++i) {
    char label[32];
    if (barLabels)
      std::snprintf(label, sizeof label, "%4.1d", static_cast<int>(i * static_cast<int64_t>(step) + min));
    else
      std::snprintf(label, sizeof label, "%.0f", i * static_cast<double>(step) + min);
    ticks.push_back({frame.bottom - Trunc(i * p) - 1, label});
  }
  return ticks;
}

}  // namespace

uint32_t SeriesColor(size_t index) { return kSeriesColors[index % kSeriesColors.size()]; }

TrendLayout LayoutTrend(int w, int h, int l) {
  TrendLayout t;
  t.legendWidth = l;
  const int x = w - l - 33;
  t.menuBar = {0, 0, w, 16};
  t.fileButton = {5, 0, 65, 16};
  t.periodButton = {70, 0, 130, 16};
  t.add = {x, 23, x + 72, 23 + 18};
  t.zoomIn = {x, h - 60, x + 72, h - 60 + 18};
  t.zoomOut = {x, h - 40, x + 72, h - 40 + 18};
  t.legend = {x, 50, w - 2, h - 75};
  t.graph = {10, 5, w - l - 25, h};
  return t;
}

GraphBoxes TrendBoxes(const Box& g) {
  GraphBoxes b;
  b.valueStrip = {g.left, g.top, g.left + 42, g.bottom - 24};
  b.dateStrip = {g.left, g.bottom - 24, g.right, g.bottom - 1};
  b.title = {g.left + 30, g.top + 2, g.right - 20, g.top + 16};
  b.frame = {g.left + 25, g.top + 18, g.right - 16, g.bottom - 20};
  b.plot = Shrink(b.frame, 3);
  return b;
}

int CandidateStep(int span) {
  span = std::max(span, 1);
  return span <= 20 ? 0 : span <= 60 ? 1 : span <= 425 ? 2 : span <= 850 ? 3 : span <= 1700 ? 4 : 5;
}

int DateAxis::X(double date) const { return Trunc((date - start + 1) * slot - slot / 2); }

DateAxis MakeDateAxis(const std::vector<GraphSeries>& series, double now, const Box& frame) {
  DateAxis a;
  bool any = false;
  for (const GraphSeries& s : series) {
    if (!s.visible) continue;
    for (const GraphPoint& p : s.points) {
      a.start = any ? std::min(a.start, p.date) : p.date;
      a.end = any ? std::max(a.end, p.date) : p.date;
      any = true;
    }
  }
  if (!any) {
    a.start = now - 1;
    a.end = now;
  }
  const int span = std::max(Trunc(a.end - a.start), 1);
  a.candidate = CandidateStep(span);
  const double perDay = static_cast<double>(frame.Width()) / span;
  a.step = a.candidate;
  while (a.step < kFiveYears && Trunc(kStepDays[a.step] * perDay) < (a.step == kDay ? 59 : 52)) ++a.step;
  a.start = AlignStart(a.start, a.step);
  a.slot = static_cast<double>(frame.Width()) / (std::max(Trunc(a.end - a.start), 0) + 1);
  double tick = FirstTick(a.start, a.step);
  for (int n = 0; tick <= a.end && n < kMaxDateTicks; ++n, tick = NextTick(tick, a.step)) {
    DateTick t;
    t.x = a.X(tick);
    if (t.x > frame.Width()) break;
    t.gridX = a.step == kDay ? Trunc(t.x + a.slot / 2) : t.x;
    t.grid = frame.Width() - t.gridX >= a.slot / 2;
    t.label = TickLabel(tick, a.step);
    a.ticks.push_back(std::move(t));
  }
  return a;
}

int CountAxis::Y(double count) const { return Trunc((count - min) * perCount); }

CountAxis MakeCountAxis(const std::vector<GraphSeries>& series, const Box& frame) {
  CountAxis a;
  bool any = false;
  double low = 0, high = 0;
  for (const GraphSeries& s : series) {
    if (!s.visible) continue;
    for (const GraphPoint& p : s.points) {
      low = any ? std::min(low, p.count) : p.count;
      high = any ? std::max(high, p.count) : p.count;
      any = true;
    }
  }
  if (any && high >= 6) {
    a.min = low < 20 ? 0 : low - 1;
    a.max = high + 1;
  }
  const double range = a.max - a.min;
  a.perCount = frame.Height() / range;
  a.step = CountStep(range, a.perCount);
  a.ticks = CountTicks(frame, a.step, a.perCount, a.min, false);
  return a;
}

BarLayout LayoutBars(int w, int h, int l) {
  BarLayout b;
  b.legendWidth = l;
  b.minWidth = l + 150;
  b.legend = {w - l - 33, 40, w - 2, h - 25};
  b.graph = {10, 7, w - l - 25, h - 10};
  return b;
}

BarBoxes BarGraphBoxes(const Box& g) {
  BarBoxes b;
  b.valueStrip = {g.left, g.top, g.left + 22, g.bottom - 24};
  b.title = {g.left + 30, g.top + 2, g.right - 20, g.top + 16};
  b.frame = {g.left + 25, g.top + 18, g.right - 16, g.bottom - 7};
  b.plot = Shrink(b.frame, 3);
  b.caption = {b.frame.right + 10, b.frame.top, g.right + 75, b.frame.top + 16};
  return b;
}

ValueAxis MakeValueAxis(const std::vector<BarItem>& items, const Box& frame) {
  ValueAxis a;
  if (!items.empty()) {
    // Counts below zero draw nothing; the axis keeps at least the range 0 to 1.
    int64_t largest = 0;
    for (const BarItem& i : items) {
      largest = std::max<int64_t>(largest, i.count);
      a.total += i.count;
    }
    a.max = static_cast<int>(std::min<int64_t>(largest + 1, INT32_MAX));
    a.step = CountStep(a.max, static_cast<double>(frame.Height()) / a.max);
  }
  const int range = a.max - a.min;
  a.perCount = frame.Height() / range;
  if (a.perCount < 1) a.perCount = static_cast<double>(frame.Height()) / range;
  a.ticks = CountTicks(frame, a.step, a.perCount, a.min, true);
  return a;
}

std::vector<Bar> MakeBars(const std::vector<BarItem>& items, const ValueAxis& axis, const Box& frame) {
  std::vector<Bar> bars;
  if (items.empty()) return bars;
  const double slot = static_cast<double>(frame.Width()) / items.size();
  const int shrink = Trunc(slot * 0.125);
  for (size_t i = 0; i < items.size(); ++i) {
    const int left = frame.left + Trunc(i * slot);
    const int right = frame.left + Trunc((i + 1) * slot);
    Bar b;
    b.bar = {left + shrink, frame.bottom - Trunc(items[i].count * axis.perCount), right - shrink, frame.bottom};
    b.shadow = {b.bar.right, b.bar.top + 3, std::min(b.bar.right + 3, right), frame.bottom};
    b.color = SeriesColor(i);
    b.tip = BarTip(items[i], axis.total);
    bars.push_back(std::move(b));
  }
  return bars;
}

std::string BarTip(const BarItem& item, int64_t total) {
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%d (%2.1f%%)", item.count,
                total == 0 ? 0.0 : item.count * 100.0 / static_cast<double>(total));
  return item.label + " \r\n Issues: " + numbers;
}

}  // namespace tamsolo::chart

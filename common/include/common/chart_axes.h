// Where the two chart controls put things: the trend chart's layout, date axis and count axis,
// and the bar chart's layout, value axis, bars, shadows and tips. Pure arithmetic on pixels, so
// the drawing code only paints what these give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/chart_reply.h"

namespace tamsolo::chart {

// A rectangle in pixels; right and bottom are outside it.
struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  friend bool operator==(const Box&, const Box&) = default;
};

// The eight series colours, by index modulo 8, as 0x00BBGGRR.
uint32_t SeriesColor(size_t index);

// ---- the trend chart

struct TrendLayout {
  int legendWidth = 0;  // L
  Box menuBar, fileButton, periodButton, add, zoomIn, zoomOut, legend, graph;
};
// `legendWidth` is L: the widest name (and "Legend:") plus 14.
TrendLayout LayoutTrend(int width, int height, int legendWidth);

struct GraphBoxes {
  Box valueStrip, dateStrip, title, frame, plot;
};
GraphBoxes TrendBoxes(const Box& graph);

enum DateStep { kDay = 0, kWeek, kMonth, kQuarter, kYear, kFiveYears };

struct DateTick {
  int x = 0;            // the tick, from the frame's left edge
  int gridX = 0;        // its grid line
  bool grid = true;     // false when the grid line would sit on the frame's right edge
  std::string label;    // "1/1/2024"; "Jan 2024" for quarters and longer
};

struct DateAxis {
  double start = 0, end = 0;  // the range, the start aligned to the step
  int candidate = 0;          // the step the span picks
  int step = 0;               // the step the width allows
  double slot = 0;            // pixels of one day
  std::vector<DateTick> ticks;
  int X(double date) const;   // the middle of the date's slot, from the frame's left edge
};

// The span in days that the step choice uses (a single date counts as one day).
int CandidateStep(int spanDays);
DateAxis MakeDateAxis(const std::vector<GraphSeries>& series, double now, const Box& frame);

struct CountTick {
  int y = 0;  // absolute
  std::string label;
};

struct CountAxis {
  double min = 0, max = 6;
  int step = 5;
  double perCount = 0;  // pixels
  std::vector<CountTick> ticks;
  int Y(double count) const;  // pixels above the frame's bottom
};
CountAxis MakeCountAxis(const std::vector<GraphSeries>& series, const Box& frame);

// ---- the bar chart

struct BarLayout {
  int legendWidth = 0;  // the widest label (and "Legend:") plus 4
  int minWidth = 0;
  Box legend, graph;
};
BarLayout LayoutBars(int width, int height, int legendWidth);

struct BarBoxes {
  Box valueStrip, title, frame, plot, caption;
};
BarBoxes BarGraphBoxes(const Box& graph);

struct ValueAxis {
  int min = 0, max = 6, step = 5;
  int64_t total = 0;
  double perCount = 0;  // whole pixels when at least one, else the exact ratio
  std::vector<CountTick> ticks;
};
ValueAxis MakeValueAxis(const std::vector<BarItem>& items, const Box& frame);

struct Bar {
  Box bar, shadow;
  uint32_t color = 0;
  std::string tip;
};
std::vector<Bar> MakeBars(const std::vector<BarItem>& items, const ValueAxis& axis, const Box& frame);
// "Open \r\n Issues: 12 (63.2%)"; the share of a total of 0 is 0.0%.
std::string BarTip(const BarItem& item, int64_t total);

}  // namespace tamsolo::chart

// The chart replies as read, and the axes and bars laid out from them.
#include <gtest/gtest.h>

#include "common/chart_axes.h"
#include "common/chart_reply.h"

namespace tamsolo::chart {
namespace {

TEST(ChartReply, TheLinesTheRulesKeepMakeTheSeries) {
  struct Case {
    std::string text;
    std::string name;
    std::vector<std::pair<double, double>> points;
  } cases[] = {
      {"<!-- made by the page -->\r\nNew Issues\r\n", "New Issues", {}},
      {"<!-- never closed\r\nN\r\nM\r\n", "M", {}},  // no "-->": the "<!" line goes with the next
      {"N\r\n1/1/2024\r\n5", "N", {{45292, 0}}},                 // the last line had no CR LF
      {"N\r\n1/1/2024\r\n<!x\r\n7\r\n3\r\n", "N", {{45292, 3}}},
      {"N\r\n1/1/1900\r\n 12abc\r\n12/31/1999\r\n-4\r\n13/1/2000\r\nnone\r\n", "N",
       {{2.0, 12}, {36525.0, -4}, {kInvalidDate, 0}}},
      {"", "", {}},
  };
  for (const Case& c : cases) {
    GraphSeries s = ReadTrendReply(c.text);
    EXPECT_EQ(s.name, c.name) << c.text;
    std::vector<std::pair<double, double>> points;
    for (const GraphPoint& p : s.points) points.emplace_back(p.date, p.count);
    EXPECT_EQ(points, c.points) << c.text;
    EXPECT_TRUE(s.visible);
  }
}

TEST(ChartReply, BarRepliesPairLabelsWithCounts) {
  BarReply r = ReadBarReply("<!-- -->\r\nH\r\nOpen\r\n12\r\nFixed\r\n");
  EXPECT_EQ(r.heading, "H");
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_EQ(r.items[0].label, "Open");
  EXPECT_EQ(r.items[0].count, 12);
  EXPECT_EQ(r.items[1].count, 0);
  EXPECT_EQ(LeadingInteger("99999999999"), INT32_MAX);
}

TEST(ChartReply, WhatThePagesWriteTheChartsReadBack) {
  struct Case {
    GraphSeries trend;
    BarReply bars;
    std::string trendText;
  } cases[] = {
      {{"New Issues", true, {{45292, 3}, {36525, 0}}},
       {"All Issues by Status", {{"Open", 12}, {"", 0}}},
       "New Issues\r\n1/1/2024\r\n3\r\n12/31/1999\r\n0\r\n"},
      {{"", true, {}}, {"", {}}, "\r\n"},
      {{"A\rB\nC", true, {{2, -4}}}, {"x\r\ny", {{"Fixed\n", 2147483647}}}, "A B C\r\n1/1/1900\r\n-4\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteTrendReply(c.trend), c.trendText);
    GraphSeries s = ReadTrendReply(WriteTrendReply(c.trend));
    EXPECT_EQ(s.name, ReplyLines(ReplyLine(c.trend.name))[0]);
    ASSERT_EQ(s.points.size(), c.trend.points.size());
    for (size_t i = 0; i < s.points.size(); ++i) {
      EXPECT_EQ(s.points[i].date, c.trend.points[i].date);
      EXPECT_EQ(s.points[i].count, c.trend.points[i].count);
    }
    BarReply b = ReadBarReply(WriteBarReply(c.bars));
    EXPECT_EQ(b.heading, ReplyLines(ReplyLine(c.bars.heading))[0]);
    ASSERT_EQ(b.items.size(), c.bars.items.size());
    for (size_t i = 0; i < b.items.size(); ++i) {
      EXPECT_EQ(b.items[i].label, ReplyLines(ReplyLine(c.bars.items[i].label))[0]);
      EXPECT_EQ(b.items[i].count, c.bars.items[i].count);
    }
  }
  EXPECT_EQ(ReplyLine("a\rb\nc"), "a b c\r\n");
}

TEST(ChartReply, QueryValuesAreEncodedKeepingColonsAndSlashes) {
  EXPECT_EQ(QueryValue("a&b c/s:all:x=%"), "a%26b%20c/s:all:x%3D%25");
}

Box Frame(int w, int h) { return {35, 23, 35 + w, 23 + h}; }

TEST(ChartAxes, TheSpanPicksTheCandidateStepAndASingleDateCountsAsOneDay) {
  EXPECT_EQ(CandidateStep(20), kDay);
  EXPECT_EQ(CandidateStep(21), kWeek);
  EXPECT_EQ(CandidateStep(0), kDay);
  // One date: the range has no length, yet the step and the slot come out whole.
  std::vector<GraphSeries> one{{"N", true, {{45292, 3}}}};
  DateAxis a = MakeDateAxis(one, 0, Frame(200, 250));
  EXPECT_EQ(a.step, kDay);
  EXPECT_EQ(a.slot, 200.0);
  ASSERT_EQ(a.ticks.size(), 1u);
  EXPECT_EQ(a.ticks[0].x, 100);
  EXPECT_EQ(a.ticks[0].label, "1/1/2024");
}

TEST(ChartAxes, LongerStepsAlignTheirTicksAsWritten) {
  struct Case {
    double from, to;  // OLE dates
    int width;
    int step;
    std::vector<std::string> labels;
  } cases[] = {
      // 1/3/2024 (a Wednesday, day 4) goes back 4 days to Saturday 12/30/2023, the ticks forward 7 - 7.
      {45294, 45294 + 30, 400, kWeek, {"12/30/2023", "1/6/2024", "1/13/2024", "1/20/2024", "1/27/2024"}},
      // Month ticks: day 1 moved forward by 7 - d (1/1/2024 is a Monday, day 2).
      {45292, 45292 + 100, 200, kMonth, {"1/6/2024", "2/3/2024", "3/2/2024", "4/6/2024"}},
      {45292 + 10, 45292 + 500, 600, kQuarter, {"Apr 2024", "Jul 2024", "Oct 2024", "Jan 2025", "Apr 2025"}},
      {45292, 45292 + 4000, 100, kFiveYears, {"Jan 2025", "Jan 2030"}},
  };
  for (const Case& c : cases) {
    std::vector<GraphSeries> s{{"N", true, {{c.from, 1}, {c.to, 2}}}};
    DateAxis a = MakeDateAxis(s, 0, Frame(c.width, 250));
    EXPECT_EQ(a.step, c.step);
    std::vector<std::string> labels;
    for (const DateTick& t : a.ticks) labels.push_back(t.label);
    EXPECT_EQ(labels, c.labels);
  }
}

TEST(ChartAxes, CountAxesTakeTheirRangeAndStep) {
  struct Case {
    std::vector<double> counts;
    int height;
    double min, max;
    int step;
  } cases[] = {
      {{0, 5}, 250, 0, 6, 5},
      {{0, 5}, 20, 0, 6, 10},  // too short for 20 pixels a step of 5
      {{2, 9}, 250, 0, 10, 5},
      {{30, 200}, 250, 29, 201, 25},
      {{}, 250, 0, 6, 5},
  };
  for (const Case& c : cases) {
    GraphSeries s{"N", true, {}};
    for (double n : c.counts) s.points.push_back({45292, n});
    CountAxis a = MakeCountAxis({s}, Frame(200, c.height));
    EXPECT_EQ(a.min, c.min);
    EXPECT_EQ(a.max, c.max);
    EXPECT_EQ(a.step, c.step);
  }
}

TEST(ChartAxes, BarsUseTheExactRatioWhenAWholePixelPerCountIsTooMuch) {
  const Box f{35, 25, 326, 243};  // 218 high
  std::vector<BarItem> items{{"A", 1000}, {"B", 1}};
  ValueAxis axis = MakeValueAxis(items, f);
  EXPECT_EQ(axis.step, 50);
  EXPECT_DOUBLE_EQ(axis.perCount, 218.0 / 1001);
  std::vector<Bar> bars = MakeBars(items, axis, f);
  EXPECT_EQ(bars[0].bar, (Box{53, 26, 162, 243}));
  EXPECT_EQ(axis.ticks.size(), 21u);
  EXPECT_EQ(axis.ticks[20].label, "1000");
  // A count far above the rest: labels at most one per pixel row; counts below 0 keep the range 0 to 1.
  EXPECT_EQ(MakeValueAxis({{"A", 2000000000}}, f).ticks.size(), 219u);
  EXPECT_EQ(MakeValueAxis({{"A", -5}}, f).max, 1);
  // All counts 0: the share is 0.0%, not a division by zero.
  EXPECT_EQ(BarTip({"A", 0}, 0), "A \r\n Issues: 0 (0.0%)");
}

}  // namespace
}  // namespace tamsolo::chart

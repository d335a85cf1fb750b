// The trend chart over the recording host: its requests, what it draws, its legend and commands.
#include <gtest/gtest.h>

#include <algorithm>

#include "automation/vbdate.h"
#include "chart/chart.h"
#include "hosted_control.h"

namespace tamsolo {
namespace {

using automation::Variant;

constexpr const char* kServer = "/APP/Reports/TrendData.asp";

using testing::Drawn;
using testing::Has;

struct ChartFixture : testing::Hosted<Chart> {
  explicit ChartFixture(gdi::Size size = {360, 293}) : Hosted(size) {}
  void Set(const std::string& user, const std::string& project, const std::string& series,
           const std::string& period = "Last 30 days") {
    for (auto [name, value] : {std::pair{"ServerURL", std::string(kServer)}, {"UserId", user}, {"ProjectId", project},
                               {"GraphData", series}, {"GraphPeriod", period}})
      control->Put(name, Variant(value));
  }
  std::string Url(const std::string& series) const { return kServer + control->Query(series); }
};

const std::string kNoData = "DrawText 105,142,163,156 21 No data...";

TEST(Chart, PropertiesInMapOrderWithTheirDefaults) {
  ChartFixture f;
  std::vector<std::string> names;
  for (const Control::Property& p : f.control->Properties())
    names.push_back(p.name + " " + std::to_string(p.dispid) + " " + f.control->Get(p.name).ToText());
  EXPECT_EQ(names, (std::vector<std::string>{"ForeColor -513 0", "BackColor -501 13553614", "BorderColor -503 6514019",
                                             "BorderVisible -519 True", "ServerURL 12 ", "GraphData 13 ",
                                             "GraphColor 15 16777215", "GridColor 16 10263196", "ProjectId 17 ",
                                             "UserId 18 ", "GraphPeriod 20 "}));
  ASSERT_NE(f.control->FindMethod("UpdateGraph"), nullptr);
}

TEST(Chart, RequestsEncodeEachValueAndSkipWhenOneIsMissing) {
  struct Case {
    std::string user, project, series;
    std::string url;  // "" when no request may go
  } cases[] = {
      {"admin", "1", "Total Open Issues",
       "/APP/Reports/TrendData.asp?UserId=admin&ProjectId=1&GraphData=Total%20Open%20Issues&GraphPeriod=Last%2030%20days"},
      {"a&b", "-1", "New Issues",
       "/APP/Reports/TrendData.asp?UserId=a%26b&ProjectId=-1&GraphData=New%20Issues&GraphPeriod=Last%2030%20days"},
      {"", "1", "New Issues", ""},
      {"admin", "", "New Issues", ""},
      {"admin", "1", "", ""},
  };
  for (const Case& c : cases) {
    ChartFixture f;
    f.host.holdTransfers = true;
    f.Set(c.user, c.project, c.series);
    f.host.calls.clear();
    f.control->Call("UpdateGraph", {});
    if (c.url.empty()) {
      EXPECT_TRUE(f.host.requests.empty());
      EXPECT_EQ(f.control->ReadyState(), kReadyStateComplete);
      EXPECT_EQ(f.host.Count("Changed -525"), 1);
    } else {
      ASSERT_EQ(f.host.requests.size(), 1u);
      EXPECT_EQ(f.host.requests[0].url, c.url);
      EXPECT_TRUE(f.control->Loading());
      EXPECT_TRUE(Has(f.Paint(), "DrawText 115,142,173,156 21 Loading..."));  // L is "Legend:" alone
    }
  }
}

TEST(Chart, DrawsTheSeriesAgainstItsAxes) {
  ChartFixture f;
  f.Set("admin", "1", "New Issues");
  f.host.transfers[f.Url("New Issues")] = "New Issues\r\n1/1/2024\r\n2\r\n1/2/2024\r\n5\r\n1/3/2024\r\n3\r\n1/4/2024\r\n9\r\n";
  f.control->UpdateGraph();
  EXPECT_EQ(f.control->ReadyState(), kReadyStateComplete);
  const std::vector<std::string> calls = f.Paint();
  EXPECT_EQ(f.control->Layout().legendWidth, 84);
  EXPECT_TRUE(Has(calls, "FillRect 35,23,235,273 FFFFFF"));
  for (const char* label : {"DrawText 32,277,88,291 21 1/1/2024", "DrawText 82,277,138,291 21 1/2/2024",
                            "DrawText 132,277,188,291 21 1/3/2024", "DrawText 182,277,238,291 21 1/4/2024",
                            "DrawText 7,266,32,280 22 0", "DrawText 7,141,32,155 22 5", "DrawText 7,16,32,30 22 10"})
    EXPECT_TRUE(Has(calls, label)) << label;
  std::vector<std::string> dotted, across;
  for (size_t i = 1; i < calls.size(); ++i) {
    if (calls[i - 1] == "SetPen Dot 9C9A9C") dotted.push_back(calls[i] + " " + calls[i + 1]);
    if (calls[i - 1] == "SetPen Solid 9C9A9C") across.push_back(calls[i] + " " + calls[i + 1]);
  }
  EXPECT_EQ(dotted, (std::vector<std::string>{"MoveTo 85,272 LineTo 85,23", "MoveTo 135,272 LineTo 135,23",
                                              "MoveTo 185,272 LineTo 185,23"}));
  EXPECT_EQ(across, (std::vector<std::string>{"MoveTo 35,147 LineTo 235,147", "MoveTo 35,22 LineTo 235,22"}));
  const auto line = std::find(calls.begin(), calls.end(), "Polyline 60,223 110,148 160,198 210,48");
  ASSERT_NE(line, calls.end());
  EXPECT_EQ(*(line - 1), "SetPen Solid 000000 2");
  EXPECT_FALSE(Has(calls, kNoData));
}

TEST(Chart, AHeadANameAndNoPointsListTheSeriesAndShowNoData) {
  ChartFixture f;
  automation::SetClockForTesting(automation::Date{45292.5});
  f.Set("admin", "1", "New Issues");
  f.host.transfers[f.Url("New Issues")] = "<!-- trend -->\r\nNew Issues\r\n";
  f.control->UpdateGraph();
  const std::vector<std::string> calls = f.Paint();
  automation::SetClockForTesting(std::nullopt);
  ASSERT_EQ(f.control->Series().size(), 1u);
  EXPECT_TRUE(Has(calls, "DrawText 271,50,358,66 24 New Issues"));
  EXPECT_TRUE(Has(calls, kNoData));
  // The range is yesterday to now by the fixed clock.
  EXPECT_TRUE(Has(calls, "DrawText 57,277,113,291 21 12/31/2023"));
}

// After each reply a chart narrower than its minimum asks the page for that width, its height kept.
TEST(Chart, ANarrowChartAsksForItsMinimumWidthAfterAReply) {
  struct Case {
    int width;
    std::vector<std::string> asked;
  };
  for (const Case& c : std::vector<Case>{{150, {"RequestSize 175x293"}}, {175, {}}, {360, {}}}) {
    ChartFixture f({c.width, 293});
    f.Set("admin", "1", "New Issues");
    f.host.transfers[f.Url("New Issues")] = "New Issues\r\n1/1/2024\r\n2\r\n";
    f.control->UpdateGraph();
    std::vector<std::string> asked;
    std::copy_if(f.host.calls.begin(), f.host.calls.end(), std::back_inserter(asked),
                 [](const std::string& call) { return call.starts_with("RequestSize"); });
    EXPECT_EQ(asked, c.asked) << c.width;
    EXPECT_EQ(f.host.ClientSize().cx, std::max(c.width, 175));
  }
}

TEST(Chart, AddedSeriesAreFetchedOnceAndSwitchedInTheLegend) {
  ChartFixture f;
  f.Set("admin", "1", "Total Open Issues");
  f.host.transfers[f.Url("Total Open Issues")] = "Total Open Issues\r\n1/1/2024\r\n2\r\n1/2/2024\r\n5\r\n";
  f.host.transfers[f.Url("New Issues")] = "New Issues\r\n1/1/2024\r\n1\r\n1/2/2024\r\n3\r\n";
  f.control->UpdateGraph();
  f.control->Command(400);
  f.control->Command(400);  // "Issues Opened" again: the list has "New Issues" already
  EXPECT_EQ(f.host.requests.size(), 2u);
  ASSERT_EQ(f.control->Series().size(), 2u);
  const auto lines = [](const std::vector<std::string>& calls) {
    return std::count_if(calls.begin(), calls.end(), [](const std::string& s) { return s.starts_with("Polyline"); });
  };
  EXPECT_EQ(lines(f.Paint()), 2);

  const chart::Box legend = f.control->Layout().legend;
  auto click = [&](int item) {
    f.control->OnMouse({MouseInput::Kind::Down, legend.left + 5, legend.top + item * kLegendItemHeight + 5, MouseInput::kLeft, 0, 0});
  };
  click(1);
  click(0);
  EXPECT_TRUE(f.control->Series()[0].visible);
  EXPECT_FALSE(f.control->Series()[1].visible);
  const std::vector<std::string> calls = f.Paint();
  EXPECT_EQ(lines(calls), 1);
  EXPECT_TRUE(Has(calls, "DrawImage 218 " + std::to_string(legend.left) + "," + std::to_string(legend.top + 16) + " " +
                             gdi::RectText({legend.left, legend.top + 16, legend.left + 12, legend.top + 28})));
}

TEST(Chart, FilePeriodAndZoomCommandsAreNotImplemented) {
  ChartFixture f;
  f.Paint();
  struct Case {
    int command;
    const char* title;
  } cases[] = {{100, "File Print"}, {104, "File RemoveStyle"}, {205, "Period Custom"}, {300, "ZoomIn"}};
  for (const Case& c : cases) {
    f.host.calls.clear();
    f.control->Command(c.command);
    EXPECT_EQ(f.host.calls, std::vector<std::string>{std::string("MessageBox ") + c.title + ": Not Implemented 0"});
  }
  // "File" is not painted, yet a click on it opens its menu in the page; releasing over "Zoom Out" asks.
  f.host.calls.clear();
  f.control->OnMouse({MouseInput::Kind::Down, 10, 5, MouseInput::kLeft, 100, 200});
  auto called = [&](const std::string& part) {
    return std::any_of(f.host.calls.begin(), f.host.calls.end(),
                       [&](const std::string& c) { return c.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(called(" SetAttribute style=position:fixed;left:105px;top:216px;"));
  EXPECT_TRUE(called(" SetText Print..."));
  const chart::Box zoomOut = f.control->Layout().zoomOut;
  f.control->OnMouse({MouseInput::Kind::Up, zoomOut.left + 1, zoomOut.top + 1, MouseInput::kLeft, 0, 0});
  EXPECT_TRUE(Has(f.host.calls, "MessageBox ZoomOut: Not Implemented 0"));
}

TEST(Chart, TheAddButtonLightsUpUnderTheMouseAndTheExtentHasAMinimum) {
  ChartFixture f;
  f.Paint();
  const chart::Box add = f.control->Layout().add;
  f.control->OnMouse({MouseInput::Kind::Move, add.left + 2, add.top + 2, 0, 0, 0});
  std::vector<std::string> calls = f.Paint();
  EXPECT_TRUE(Has(calls, "SetTextColor FFFFFF"));
  f.control->OnMouse({MouseInput::Kind::Leave, 0, 0, 0, 0, 0});
  calls = f.Paint();
  EXPECT_FALSE(Has(calls, "SetTextColor FFFFFF"));
  f.control->SetExtent({1000, 20000});
  EXPECT_EQ(f.control->Extent(), (gdi::Size{gdi::PixelsToHimetric(315), gdi::PixelsToHimetric(756)}));
}

}  // namespace
}  // namespace tamsolo

// The distribution bar chart over the recording host: bars, shadows, labels, tips, design mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "chart_bar/chart_bar.h"
#include "hosted_control.h"

namespace tamsolo {
namespace {

using automation::Variant;

using testing::Drawn;
using testing::Has;

struct BarFixture : testing::Hosted<ChartBar> {
  explicit BarFixture(bool userMode = true, int width = 420) : Hosted({width, 260}, userMode) {
    EXPECT_EQ(control->FinalConstruct(), hr::kOk);
  }
  void Load(const std::string& reply) {
    for (auto [name, value] : {std::pair{"ServerURL", "/APP/Reports/DistributionData.asp"}, {"UserId", "a&b"},
                               {"ProjectId", "-1"}, {"GraphData", "s:all:StatusCode"}})
      control->Put(name, Variant(value));
    host.transfers["/APP/Reports/DistributionData.asp?UserId=a%26b&ProjectId=-1&GraphData=s:all:StatusCode"] = reply;
    control->Call("UpdateGraph", {});
  }
};

constexpr const char* kOpenFixed = "H\r\nOpen\r\n12\r\nFixed\r\n7\r\n";

TEST(ChartBar, BarsAndShadowsFillTheirSlots) {
  BarFixture f;
  f.Load(kOpenFixed);
  ASSERT_EQ(f.host.requests.size(), 1u);
  EXPECT_EQ(f.control->ReadyState(), kReadyStateComplete);
  const std::vector<std::string> calls = f.Paint();
  for (const char* line : {"FillRect 35,25,326,243 FFFFFF", "FillRect 53,51,162,243 000000",
                           "FillRect 162,54,165,243 CECFCE", "DrawText 40,9,322,23 8020 H"})
    EXPECT_TRUE(Has(calls, line)) << line;
  EXPECT_EQ(f.control->Legend(), (std::vector<std::string>{"Open", "Fixed"}));
  EXPECT_EQ(f.control->MinimumWidth(), 53 + 150);
  EXPECT_TRUE(f.control->Get("BorderVisible").ToBool());
  EXPECT_EQ(f.control->FindProperty("GraphPeriod"), nullptr);
}

// The minimum width is the legend's plus 150, measured at the reply's layout.
TEST(ChartBar, ANarrowBarChartAsksForTheLegendWidthPlus150AfterAReply) {
  for (int width : {150, 203, 420}) {
    BarFixture f(true, width);
    f.Load(kOpenFixed);
    EXPECT_EQ(f.host.Count("RequestSize 203x260"), width < 203 ? 1 : 0) << width;
    EXPECT_EQ(f.host.ClientSize().cx, std::max(width, 203));
  }
}

TEST(ChartBar, DesignModeShowsThreeSampleBarsWithoutARequest) {
  BarFixture f(false);
  const std::vector<std::string> calls = f.Paint();
  EXPECT_TRUE(f.host.requests.empty());
  for (const char* line : {"FillRect 47,178,120,243 000000", "FillRect 144,113,217,243 CE0000",
                           "FillRect 241,48,314,243 CE9C00", "DrawText 7,236,32,250 22    0",
                           "DrawText 7,171,32,185 22    5", "DrawText 7,106,32,120 22   10",
                           "DrawText 7,41,32,55 22   15", "DrawText 350,40,418,56 24 One"})
    EXPECT_TRUE(Has(calls, line)) << line;
  std::vector<std::string> tips;
  for (const chart::Bar& b : f.control->Bars()) tips.push_back(b.tip);
  EXPECT_EQ(tips, (std::vector<std::string>{"A \r\n Issues: 5 (16.7%)", "B \r\n Issues: 10 (33.3%)",
                                            "C \r\n Issues: 15 (50.0%)"}));
  // The mouse over the second bar shows its tip beside it, off the bars none.
  f.control->OnMouse({MouseInput::Kind::Move, 150, 200, 0, 10, 20});
  EXPECT_TRUE(Has(f.host.calls, "Element 1 SetText " + tips[1]));
  EXPECT_TRUE(Has(f.host.calls, "AddToPage 1"));
  f.control->OnMouse({MouseInput::Kind::Move, 130, 200, 0, 10, 20});
  EXPECT_TRUE(Has(f.host.calls, "Element 1 Remove"));
  EXPECT_EQ(f.host.Count("CreateElement div"), 1);
}

TEST(ChartBar, TenItemsColourTheNinthAndTenthLikeTheFirstTwo) {
  BarFixture f;
  std::string reply = "Ten\r\n";
  for (int i = 1; i <= 10; ++i) reply += "V" + std::to_string(i) + "\r\n" + std::to_string(i) + "\r\n";
  f.Load(reply);
  f.Paint();
  const std::vector<chart::Bar>& bars = f.control->Bars();
  ASSERT_EQ(bars.size(), 10u);
  EXPECT_EQ(bars[8].color, bars[0].color);
  EXPECT_EQ(bars[9].color, bars[1].color);
  EXPECT_NE(bars[9].color, bars[0].color);
}

TEST(ChartBar, AHeadingWithoutPairsShowsNoDataAndAnEmptyLegend) {
  BarFixture f;
  f.Load("H\r\n");
  const std::vector<std::string> calls = f.Paint();
  EXPECT_TRUE(f.control->Legend().empty());
  EXPECT_TRUE(f.control->Bars().empty());
  EXPECT_TRUE(Has(calls, "DrawText 150,128,208,142 21 No data..."));
}

}  // namespace
}  // namespace tamsolo

// The statistics pages in Chromium against vantrel-site with the control library: the trend chart
// draws what GetTrendData gives, the bar chart one bar per row of GetDistributionData with its
// tips, and a chart whose data page refuses it (signed out) shows "No data...".
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "automation/vbdate.h"
#include "common/chart_axes.h"
#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using automation::Variant;
using testsupport::Json;
namespace chart = tamsolo::chart;

const std::string kControls = VANTREL_CONTROLS_DIR;

class ChartsBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kControls.empty()) GTEST_SKIP() << "the control library is not built (VANTREL_CONTROLS_DIR)";
    site = std::make_unique<testsupport::SiteServer>(
        testsupport::SiteServer::Options{.extraArgs = {"--controls", kControls}});
    // Issues opened over the last ten days, so every period has a series of its own.
    sitedb::Db(site->DatabaseFile())
        .Exec("UPDATE Issues SET DateOpened = strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-' || "
              "(IssueId % 10) || ' days'), DateClosed = NULL");
    database = automation::CreateObject("Brisquel.Database");
    database->Put("ConnectionString", Variant(sitedb::ConnectionString(site->DatabaseFile())));
    page = testsupport::Browser::Shared().NewPage();
    testsupport::SignIn(*page, *site, "admin", "Secret1");
  }

  std::shared_ptr<automation::Object> Rows(const std::string& method, std::vector<Variant> args) {
    return database->Call(method, std::move(args)).ToObject();
  }
  static Variant Field(automation::Object& rs, const Variant& name) {
    return rs.Get("Fields", {name}).ToObject()->Get("Value");
  }

  // The calls the control drew since it began recording, and the frame of its last graph.
  std::vector<std::string> Calls(const std::string& id) {
    return page->Evaluate(id + ".tamsoloCalls").get<std::vector<std::string>>();
  }
  // The rectangle of the first `call` in `color` of the last surface drawn: the frame F is the
  // first FillRect in white, the "Add" button the first FrameRect in black.
  static chart::Box LastBox(const std::vector<std::string>& calls, const std::string& call = "FillRect",
                            const std::string& color = "FFFFFF") {
    chart::Box f;
    bool inSurface = false;
    for (const std::string& line : calls) {
      if (line.starts_with("CreateSurface")) inSurface = true;
      if (inSurface && line.find("] " + call + " ") != std::string::npos && line.ends_with(" " + color)) {
        std::sscanf(line.c_str() + line.find(call) + call.size() + 1, "%d,%d,%d,%d", &f.left, &f.top, &f.right,
                    &f.bottom);
        inSurface = false;
      }
    }
    return f;
  }
  bool RecordedSince(const std::string& id, size_t from, const std::string& line) {
    const std::vector<std::string> calls = Calls(id);
    for (size_t i = from; i < calls.size(); ++i)
      if (calls[i].ends_with(line)) return true;
    return false;
  }
  // Recording on from now; a colour set to itself repaints the control.
  void Record(const std::string& id) {
    page->Evaluate(id + ".setAttribute('data-tamsolo-record', ''); " + id + ".GridColor = " + id + ".GridColor; 0");
  }
  int Fetches(const std::string& name, int status) {
    return page
        ->Evaluate("performance.getEntriesByType('resource').filter(e => e.name.includes('" + name +
                   "') && e.responseStatus === " + std::to_string(status) + ").length")
        .get<int>();
  }

  // The polylines the trend chart must draw in the frame for the library's rows of these series.
  std::vector<std::string> ExpectedLines(const std::vector<std::string>& names, const std::string& period,
                                         const chart::Box& frame) {
    std::vector<chart::GraphSeries> series;
    for (const std::string& name : names) {
      auto rs = Rows("GetTrendData", {Variant("admin"), Variant(-1), Variant(name), Variant(period)});
      chart::GraphSeries s{name, true, {}};
      for (; !rs->Get("EOF").ToBool(); rs->Call("MoveNext"))
        s.points.push_back({Field(*rs, Variant("Date")).ToDate().value, Field(*rs, Variant("NumIssues")).ToDouble()});
      EXPECT_GE(s.points.size(), 2u) << name << " " << period;
      series.push_back(std::move(s));
    }
    const chart::DateAxis dates = chart::MakeDateAxis(series, 0, frame);
    const chart::CountAxis counts = chart::MakeCountAxis(series, frame);
    std::vector<std::string> lines;
    for (const chart::GraphSeries& s : series) {
      std::string line = "Polyline";
      for (const chart::GraphPoint& p : s.points)
        line += " " + std::to_string(frame.left + dates.X(p.date)) + "," +
                std::to_string(frame.bottom - counts.Y(p.count));
      lines.push_back(line);
    }
    return lines;
  }
  std::string Drawn(const std::string& id, size_t from, const std::string& line) {
    return id + ".tamsoloCalls.slice(" + std::to_string(from) + ").some(l => l.endsWith(" + Json(line).dump() + "))";
  }

  std::unique_ptr<testsupport::SiteServer> site;
  std::shared_ptr<automation::Object> database;
  std::unique_ptr<testsupport::Page> page;
};

TEST_F(ChartsBrowserTest, SummaryTrendsDrawsTheLibrarysSeriesAndNoDataOnceSignedOut) {
  ASSERT_EQ(page->Navigate(site->Url("/Reports/SummaryTrends.asp")), 200);
  ASSERT_TRUE(page->WaitFor("window.Chart1 && Chart1.readyState === 4"));
  EXPECT_EQ(page->Evaluate("[Chart1.ServerURL, Chart1.UserId, Chart1.ProjectId, Chart1.GraphData, Chart1.GraphPeriod]"),
            Json::parse(R"(["/APP/Reports/TrendData.asp", "admin", "-1", "Total Open Issues", "Last 30 days"])"));
  EXPECT_EQ(page->Evaluate("document.getElementById('GraphPeriod').options.length"), 6);
  EXPECT_EQ(page->Evaluate("document.getElementById('ProjectId').options[0].text"), "All projects");
  Record("Chart1");
  ASSERT_TRUE(page->WaitFor("Chart1.tamsoloCalls.some(l => l.includes('Polyline'))"));
  EXPECT_EQ(Fetches("TrendData.asp", 200), 1);  // once, with the sign-in (else the page answers 401)
  EXPECT_EQ(Fetches("TrendData.asp", 401), 0);
  const chart::Box frame = LastBox(Calls("Chart1"));
  EXPECT_EQ(frame.left, 35);
  EXPECT_EQ(frame.bottom, 400 - 20);
  EXPECT_TRUE(RecordedSince("Chart1", 0, ExpectedLines({"Total Open Issues"}, "Last 30 days", frame)[0]));

  // "Add" opens its menu in the page; "Issues Opened" fetches "New Issues" beside the first series.
  const chart::Box add = LastBox(Calls("Chart1"), "FrameRect", "000000");
  page->Evaluate("(() => { const c = Chart1.querySelector('canvas'), r = c.getBoundingClientRect(); "
                 "c.dispatchEvent(new PointerEvent('pointerdown', {clientX: r.left + " + std::to_string(add.left + 5) +
                 ", clientY: r.top + " + std::to_string(add.top + 5) + ", button: 0, bubbles: true})); })()");
  ASSERT_TRUE(page->WaitFor("!!document.querySelector('.tamsolo-menu-item[data-command=\"400\"]')"));
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('.tamsolo-menu-item')].map(e => e.textContent)"),
            Json::parse(R"(["Issues Opened", "Issues Closed", "Total Open Issues", "Total Closed Issues",
                            "Total Issues"])"));
  size_t before = Calls("Chart1").size();
  page->Click(".tamsolo-menu-item[data-command=\"400\"]");
  for (const std::string& line : ExpectedLines({"Total Open Issues", "New Issues"}, "Last 30 days", frame))
    EXPECT_TRUE(page->WaitFor(Drawn("Chart1", before, line))) << line;
  EXPECT_EQ(Fetches("GraphData=New%20Issues", 200), 1);

  // "Zoom In", laid out under the legend but not painted, answers in a box of the page.
  page->Evaluate("(() => { const c = Chart1.querySelector('canvas'), r = c.getBoundingClientRect(); "
                 "c.dispatchEvent(new PointerEvent('pointerup', {clientX: r.left + " + std::to_string(add.left + 5) +
                 ", clientY: r.top + " + std::to_string(400 - 60 + 5) + ", button: 0, bubbles: true})); })()");
  EXPECT_EQ(page->Evaluate("[document.querySelector('.tamsolo-modal-title').textContent, "
                           "document.querySelector('.tamsolo-modal-text').textContent]"),
            Json::parse(R"(["ZoomIn", "Not Implemented"])"));
  page->Click(".tamsolo-modal button");

  // Another period: the page sets it and asks again, for its one series.
  before = Calls("Chart1").size();
  page->Evaluate("(() => { const p = document.getElementById('GraphPeriod'); p.value = 'Last 7 days'; "
                 "p.dispatchEvent(new Event('change')); })()");
  const std::string week = ExpectedLines({"Total Open Issues"}, "Last 7 days", frame)[0];
  EXPECT_TRUE(page->WaitFor(Drawn("Chart1", before, week))) << week;

  // Narrowed by the page, the chart follows; after its next reply it asks for 175 pixels again.
  page->Evaluate("Chart1.width = 150; 0");
  EXPECT_TRUE(page->WaitFor("Chart1.querySelector('canvas').width === 150"));
  page->Evaluate("(() => { const p = document.getElementById('GraphPeriod'); p.value = 'Last 30 days'; "
                 "p.dispatchEvent(new Event('change')); })()");
  EXPECT_TRUE(page->WaitFor("Chart1.getAttribute('width') === '175' && Chart1.querySelector('canvas').width === 175"));
  EXPECT_TRUE(page->WaitFor("Chart1.tamsoloCalls.some(l => l.startsWith('CreateSurface') && l.endsWith(' 175x400'))"));

  // Signed out, the data page answers 401 with nothing, and the chart has no data.
  page->Evaluate("fetch('/APP/Logout.asp').then(r => r.status)");
  EXPECT_EQ(page->Evaluate("fetch('/APP/Reports/TrendData.asp?UserId=admin&ProjectId=-1&GraphData=New%20Issues')"
                           ".then(async r => [r.status, await r.text()])"),
            Json::parse(R"([401, ""])"));
  before = Calls("Chart1").size();
  page->Evaluate("(() => { const p = document.getElementById('GraphPeriod'); p.value = 'All dates'; "
                 "p.dispatchEvent(new Event('change')); })()");
  EXPECT_TRUE(page->WaitFor(Drawn("Chart1", before, " No data...")));
  EXPECT_EQ(Fetches("TrendData.asp", 401), 2);
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

// The longest dates ("11/15/2025") fit their labels' rectangles: no ink on the rectangles' edge
// columns, some inside.
TEST_F(ChartsBrowserTest, DateLabelsAreDrawnWhole) {
  sitedb::Db(site->DatabaseFile())
      .Exec("UPDATE Issues SET DateOpened = strftime('%Y-%m-%d 00:00:00.000', '2025-11-10', '+' || (IssueId * 5) || "
            "' days')");
  ASSERT_EQ(page->Navigate(site->Url("/Reports/SummaryTrends.asp")), 200);
  ASSERT_TRUE(page->WaitFor("window.Chart1 && Chart1.readyState === 4"));
  Record("Chart1");
  page->Evaluate("Chart1.GraphData = 'New Issues'; Chart1.GraphPeriod = 'All dates'; Chart1.UpdateGraph(); 0");
  ASSERT_TRUE(page->WaitFor("Chart1.tamsoloCalls.some(l => l.endsWith(' 11/15/2025'))"));
  ASSERT_TRUE(page->WaitFor("Chart1.tamsoloCalls.at(-1).startsWith('Blit')"));
  const Json labels = page->Evaluate(R"((() => {
    const calls = Chart1.tamsoloCalls, canvas = Chart1.querySelector('canvas'), ctx = canvas.getContext('2d');
    const last = calls.findLastIndex(l => l.startsWith('CreateSurface'));
    const ink = (x, t, b) => {
      const d = ctx.getImageData(x, t, 1, b - t).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) n += d[i] + d[i + 1] + d[i + 2] < 384;
      return n;
    };
    return calls.slice(last).map(l => l.match(/DrawText (\d+),(\d+),(\d+),(\d+) \w+ (\d+\/\d+\/\d{4})$/)).filter(m => m)
      .map(m => [+m[1], +m[2], +m[3], +m[4], m[5]]).filter(([l, t, r]) => r <= canvas.width)
      .map(([l, t, r, b, text]) => {
        let inside = 0;
        for (let x = l + 1; x < r - 1; x++) inside += ink(x, t, b);
        return [text, ink(l, t, b) + ink(r - 1, t, b), inside > 0];
      });
  })())");
  ASSERT_GE(labels.size(), 3u) << labels;
  bool longest = false;
  for (const Json& label : labels) {
    EXPECT_EQ(label[1], 0) << label;
    EXPECT_EQ(label[2], true) << label;
    longest = longest || label[0].get<std::string>().size() == 10;
  }
  EXPECT_TRUE(longest) << labels;
}

TEST_F(ChartsBrowserTest, IssueDistributionDrawsABarPerRowWithItsTip) {
  ASSERT_EQ(page->Navigate(site->Url("/Reports/IssueDistribution.asp")), 200);
  ASSERT_TRUE(page->WaitFor("window.ChartBar1 && ChartBar1.readyState === 4"));
  const std::string query = page->Evaluate("ChartBar1.GraphData").get<std::string>();
  EXPECT_EQ(page->Evaluate("document.getElementById('GraphData').value"), query);
  Record("ChartBar1");
  ASSERT_TRUE(page->WaitFor("ChartBar1.tamsoloCalls.some(l => l.includes('] FillRect'))"));
  const std::vector<std::string> calls = Calls("ChartBar1");
  const chart::Box frame = LastBox(calls);

  std::vector<chart::BarItem> items;
  auto rs = Rows("GetDistributionData", {Variant("admin"), Variant(-1), Variant(query)});
  for (; !rs->Get("EOF").ToBool(); rs->Call("MoveNext")) {
    const Variant label = Field(*rs, Variant(0));
    items.push_back({label.IsNull() ? "" : label.ToText(), Field(*rs, Variant("NumIssues")).ToLong()});
  }
  ASSERT_FALSE(items.empty());
  const std::vector<chart::Bar> bars = chart::MakeBars(items, chart::MakeValueAxis(items, frame), frame);
  int drawn = 0;
  for (const std::string& line : calls)
    for (const chart::Bar& b : bars)
      if (line.find("] FillRect " + std::to_string(b.bar.left) + "," + std::to_string(b.bar.top) + "," +
                    std::to_string(b.bar.right) + "," + std::to_string(b.bar.bottom) + " ") != std::string::npos)
        ++drawn;
  EXPECT_EQ(drawn, static_cast<int>(items.size()));

  // The mouse over the first bar shows its tip at once.
  const chart::Box& first = bars.front().bar;
  page->Evaluate("(() => { const c = ChartBar1.querySelector('canvas'), r = c.getBoundingClientRect(); "
                 "c.dispatchEvent(new PointerEvent('pointermove', {clientX: r.left + " +
                 std::to_string((first.left + first.right) / 2) + ", clientY: r.top + " +
                 std::to_string(first.bottom - 1) + ", bubbles: true})); })()");
  EXPECT_EQ(page->Evaluate("document.querySelector('.tamsolo-tip').textContent"), bars.front().tip);

  // Too narrow for its legend, the bar chart asks for the legend's width plus 150 after its reply.
  page->Evaluate("ChartBar1.width = 120; ChartBar1.UpdateGraph(); 0");
  EXPECT_TRUE(page->WaitFor("(c => c.width > 150 && ChartBar1.getAttribute('width') === String(c.width))"
                            "(ChartBar1.querySelector('canvas'))"));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(ChartsBrowserTest, TickingOpenIssuesOnlyKeepsTheChosenDistribution) {
  ASSERT_EQ(page->Navigate(site->Url("/Reports/IssueDistribution.asp")), 200);
  const std::string chosen = "[GraphData.value, GraphData.selectedOptions[0].text, OpenOnly.checked, ChartBar1.GraphData]";
  const std::string ready = "window.ChartBar1 && ChartBar1.readyState === 4";
  // Chosen at once, perhaps before the control library has taken the chart: the chart follows.
  page->Evaluate("GraphData.value = 's:all:PriorityCode'; GraphData.dispatchEvent(new Event('change')); 0");
  ASSERT_TRUE(page->WaitFor(ready + " && ChartBar1.GraphData === 's:all:PriorityCode'"));
  page->ClickAndWait("#OpenOnly");
  ASSERT_TRUE(page->WaitFor(ready));
  EXPECT_EQ(page->Evaluate(chosen), Json::parse(R"(["s:open:PriorityCode", "Open Issues by Priority", true,
                                                    "s:open:PriorityCode"])"));
  page->ClickAndWait("#OpenOnly");
  ASSERT_TRUE(page->WaitFor(ready));
  EXPECT_EQ(page->Evaluate(chosen), Json::parse(R"(["s:all:PriorityCode", "All Issues by Priority", false,
                                                    "s:all:PriorityCode"])"));
  // The status is counted over all issues only: the open list starts at its first entry.
  page->Evaluate("GraphData.value = 's:all:StatusCode'; 0");
  page->ClickAndWait("#OpenOnly");
  EXPECT_EQ(page->Evaluate("[GraphData.value, GraphData.selectedIndex]"), Json::parse(R"(["s:open:AssignedToUser", 0])"));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace

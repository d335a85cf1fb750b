// /Reports/SummaryTrends.asp: the trend chart with its project and period boxes, and
// /Reports/TrendData.asp, the data page the chart fetches its series from.
#include "brisquel/encode.h"
#include "common/chart_reply.h"
#include "site/host.h"
#include "site/pages/chart_pages.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;

constexpr const char* kPeriods[] = {"Today", "Last 7 days", "Last 14 days", "Last 30 days", "Last 90 days",
                                    "All dates"};
constexpr std::string_view kFirstPeriod = "Last 30 days";
constexpr std::string_view kFirstSeries = "Total Open Issues";

std::string PeriodOptions() {
  std::string out;
  for (const char* p : kPeriods)
    out += "<option value=\"" + HtmlAttribute(p) + "\"" + (p == kFirstPeriod ? " selected" : "") + ">" + HtmlText(p) +
           "</option>\r\n";
  return out;
}

void SummaryTrendsPage(PageContext& page) {
  std::string body =
      "<table class=box cellpadding=4>\r\n<tr>"
      "<td class=FormLabels>Project</td><td class=FormFields>"
      "<select id=ProjectId name=ProjectId onchange=\"SetChart('ProjectId', this.value)\">\r\n" +
      ProjectOptions(page, -1) +
      "</select></td>"
      "<td class=FormLabels>Period</td><td class=FormFields>"
      "<select id=GraphPeriod name=GraphPeriod onchange=\"SetChart('GraphPeriod', this.value)\">\r\n" +
      PeriodOptions() + "</select></td></tr>\r\n</table>\r\n";
  body += ChartObject("Chart", "Chart1", 640, 400,
                      {{"ServerURL", page.Url("/Reports/TrendData.asp")},
                       {"UserId", page.UserId()},
                       {"ProjectId", "-1"},
                       {"GraphData", std::string(kFirstSeries)},
                       {"GraphPeriod", std::string(kFirstPeriod)}});
  body +=
      "<script>\r\n"
      "function SetChart(name, value) {\r\n"
      "  var chart = document.getElementById('Chart1');\r\n"
      "  chart[name] = value;\r\n"
      "  chart.UpdateGraph();\r\n"
      "}\r\n" +
      UpdateOnReady("Chart1") + "</script>\r\n";
  page.SendPage("Summary Trends", body);
}

// The series name as asked, then a date line and a count line per row.
void TrendDataPage(PageContext& page) {
  if (!DataSignedIn(page)) return;
  const std::string graphData = page.Query("GraphData");
  tamsolo::chart::GraphSeries series;
  series.name = graphData;
  auto rs = page.Database()
                ->Call("GetTrendData", {Variant(page.UserId()), Variant(QueryNumber(page, "ProjectId", 0)),
                                        Variant(graphData), Variant(page.Query("GraphPeriod"))})
                .ToObject();
  if (IsOpen(rs))
    EachRecord(*rs, [&](automation::Object& r) {
      series.points.push_back({FieldValue(r, "Date").ToDate().value, static_cast<double>(FieldLong(r, "NumIssues"))});
    });
  SendReply(page, tamsolo::chart::WriteTrendReply(series));
}

AddPage summaryTrends("/Reports/SummaryTrends.asp", {.get = SummaryTrendsPage});
AddPage trendData("/Reports/TrendData.asp", {.get = TrendDataPage, .isPublic = true});

}  // namespace

}  // namespace site

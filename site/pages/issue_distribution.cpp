// /Reports/IssueDistribution.asp: the distribution bar chart with its distribution and project
// boxes, and /Reports/DistributionData.asp, the data page the chart fetches its bars from.
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

struct Query {
  std::string id, name;
};

std::vector<Query> DistributionQueries(PageContext& page, bool allIssues) {
  std::vector<Query> out;
  auto rs = page.Database()->Call("GetDistributionQueriesRs", {Variant(allIssues)}).ToObject();
  EachRecord(*rs, [&](automation::Object& r) { out.push_back({FieldText(r, "QueryId"), FieldText(r, "QueryName")}); });
  return out;
}

// The field a query id counts by: what follows its second colon.
std::string_view QueryField(std::string_view id) {
  const size_t first = id.find(':');
  const size_t second = first == std::string_view::npos ? first : id.find(':', first + 1);
  return second == std::string_view::npos ? std::string_view() : id.substr(second + 1);
}

void IssueDistributionPage(PageContext& page) {
  const bool openOnly = page.Query("OpenOnly") == "1";
  const int32_t projectId = QueryNumber(page, "ProjectId", -1);
  const std::vector<Query> queries = DistributionQueries(page, !openOnly);
  // The open and the all-issues lists name the same field by different ids ("s:open:" or "s:all:"
  // and the field): the tick keeps the field chosen, where the other list has it.
  const std::string asked = page.Query("GraphData");
  const std::string_view field = QueryField(asked);
  std::string chosen = queries.empty() ? "" : queries.front().id;
  for (const Query& q : queries)
    if (q.id == asked || (!field.empty() && QueryField(q.id) == field)) chosen = q.id;
  std::string options;
  for (const Query& q : queries)
    options += "<option value=\"" + HtmlAttribute(q.id) + "\"" + (q.id == chosen ? " selected" : "") + ">" +
               HtmlText(q.name) + "</option>\r\n";
  std::string body =
      "<form name=fDistribution method=get action=\"" + HtmlAttribute(page.Url("/Reports/IssueDistribution.asp")) +
      "\">\r\n<table class=box cellpadding=4>\r\n<tr>"
      "<td class=FormLabels>Distribution</td><td class=FormFields>"
      "<select id=GraphData name=GraphData onchange=\"SetChart('GraphData', this.value)\">\r\n" +
      options +
      "</select> <input type=checkbox id=OpenOnly name=OpenOnly value=1" + (openOnly ? " checked" : "") +
      " onclick=\"this.form.submit()\"><label for=OpenOnly>Open issues only</label></td>"
      "<td class=FormLabels>Project</td><td class=FormFields>"
      "<select id=ProjectId name=ProjectId onchange=\"SetChart('ProjectId', this.value)\">\r\n" +
      ProjectOptions(page, projectId) + "</select></td></tr>\r\n</table>\r\n</form>\r\n";
  body += ChartObject("ChartBar", "ChartBar1", 640, 400,
                      {{"ServerURL", page.Url("/Reports/DistributionData.asp")},
                       {"UserId", page.UserId()},
                       {"ProjectId", std::to_string(projectId)},
                       {"GraphData", chosen}});
  // A box changed before the control library has taken the chart waits for it: the chart then
  // starts from what the boxes show.
  body +=
      "<script>\r\n"
      "function SetChart(name, value) {\r\n"
      "  var chart = document.getElementById('ChartBar1');\r\n"
      "  if (!chart.UpdateGraph) return;\r\n"
      "  chart[name] = value;\r\n"
      "  chart.UpdateGraph();\r\n"
      "}\r\n"
      "document.addEventListener('tamsoloready', function () {\r\n"
      "  var chart = document.getElementById('ChartBar1');\r\n"
      "  chart.GraphData = document.getElementById('GraphData').value;\r\n"
      "  chart.ProjectId = document.getElementById('ProjectId').value;\r\n"
      "  chart.UpdateGraph();\r\n"
      "});\r\n"
      "</script>\r\n";
  page.SendPage("Issue Distribution", body);
}

// The query's name as heading, then a label line and a count line per row. A query the library
// does not offer gives the heading alone, empty.
void DistributionDataPage(PageContext& page) {
  if (!DataSignedIn(page)) return;
  const std::string graphData = page.Query("GraphData");
  tamsolo::chart::BarReply reply;
  bool offered = false;
  for (bool all : {true, false})
    for (const Query& q : DistributionQueries(page, all))
      if (!offered && q.id == graphData) {
        reply.heading = q.name;
        offered = true;
      }
  if (offered) {
    auto rs = page.Database()
                  ->Call("GetDistributionData",
                         {Variant(page.UserId()), Variant(QueryNumber(page, "ProjectId", 0)), Variant(graphData)})
                  .ToObject();
    if (IsOpen(rs))
      EachRecord(*rs, [&](automation::Object& r) {
        reply.items.push_back({FieldValueAt(r, 0).ToText(), FieldLong(r, "NumIssues")});
      });
  }
  SendReply(page, tamsolo::chart::WriteBarReply(reply));
}

AddPage issueDistribution("/Reports/IssueDistribution.asp", {.get = IssueDistributionPage});
AddPage distributionData("/Reports/DistributionData.asp", {.get = DistributionDataPage, .isPublic = true});

}  // namespace

}  // namespace site

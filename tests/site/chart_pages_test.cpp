// The chart data pages of vantrel-site: plain-text replies built from the library's statistics for
// the signed-in user (never the user the query names), and 401 with nothing without a sign-in.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>

#include "automation/automation.h"
#include "automation/vbdate.h"
#include "support/site_db.h"
#include "support/site_http.h"
#include "support/site_server.h"

namespace {

using automation::Variant;

std::string Value(automation::Object& rs, const Variant& field) {
  const Variant v = rs.Get("Fields", {field}).ToObject()->Get("Value");
  if (v.IsNull()) return "";
  return v.Type() == automation::VarType::Date ? automation::ShortDateText(v.ToDate()) : v.ToText();
}

// The reply the page must give: the first line, then two lines per row of the recordset.
std::string Expected(const std::string& first, const std::shared_ptr<automation::Object>& rs, const Variant& a,
                     const Variant& b) {
  std::string out = first + "\r\n";
  for (; !rs->Get("EOF").ToBool(); rs->Call("MoveNext")) out += Value(*rs, a) + "\r\n" + Value(*rs, b) + "\r\n";
  return out;
}

TEST(ChartPages, DataPagesReplyForTheSignedInUserAndRefuseWithoutASignIn) {
  testsupport::SiteServer site;
  sitedb::Db(site.DatabaseFile())
      .Exec("UPDATE Issues SET DateOpened = strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-' || "
            "(IssueId % 5) || ' days')");
  auto db = automation::CreateObject("Brisquel.Database");
  db->Put("ConnectionString", Variant(sitedb::ConnectionString(site.DatabaseFile())));

  httplib::Client c("127.0.0.1", site.Port());
  const std::string cookie = testsupport::SignInOverHttp(c, site, "admin", "Secret1");
  ASSERT_FALSE(cookie.empty());

  struct Case {
    std::string path;
    std::string reply;
  } cases[] = {
      {"/APP/Reports/TrendData.asp?UserId=nobody&ProjectId=-1&GraphData=New%20Issues&GraphPeriod=Last%207%20days",
       Expected("New Issues",
                db->Call("GetTrendData", {Variant("admin"), Variant(-1), Variant("New Issues"), Variant("Last 7 days")})
                    .ToObject(),
                Variant("Date"), Variant("NumIssues"))},
      // Not offered (the open list has no status entry): the empty heading alone.
      {"/APP/Reports/DistributionData.asp?UserId=nobody&ProjectId=1&GraphData=s:open:StatusCode", "\r\n"},
      {"/APP/Reports/DistributionData.asp?ProjectId=1&GraphData=s:all:StatusCode",
       Expected("All Issues by Status",
                db->Call("GetDistributionData", {Variant("admin"), Variant(1), Variant("s:all:StatusCode")}).ToObject(),
                Variant(0), Variant("NumIssues"))},
  };
  for (const Case& k : cases) {
    auto r = c.Get(k.path, {{"Cookie", cookie}});
    EXPECT_EQ(r->status, 200) << k.path;
    EXPECT_EQ(r->body, k.reply) << k.path;
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store");
    auto out = c.Get(k.path);
    EXPECT_EQ(out->status, 401) << k.path;
    EXPECT_EQ(out->body, "");
  }
  for (size_t i : {0, 2}) EXPECT_GT(std::count(cases[i].reply.begin(), cases[i].reply.end(), '\n'), 3) << cases[i].reply;
}

}  // namespace

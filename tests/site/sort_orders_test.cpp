// Sort orders sent to the issue lists (My Issues and Search, their printer pages and downloads)
// over HTTP to a vantrel-site on the demo site: what is no sort key is refused with the list's
// sentence, never a 5xx nor the engine's own words; sort keys still sort, either way.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <regex>

#include "brisquel/encode.h"
#include "support/site_http.h"
#include "support/site_server.h"

namespace {

using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

class SortOrdersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    httplib::Client c = Client();
    cookie = testsupport::SignInOverHttp(c, site, "admin", "Secret1");
    ASSERT_FALSE(cookie.empty());
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", site.Port());
    c.set_read_timeout(30);
    return c;
  }
  httplib::Result Get(const std::string& path) { return Client().Get(path, {{"Cookie", cookie}}); }

  testsupport::SiteServer site;
  std::string cookie;
};

const char* const kPages[] = {
    "/APP/Assignments/MyAssignments.asp?Filter=s:all&",
    "/APP/Assignments/MyAssignmentsPrinterFriendly.asp?Filter=s:all&",
    "/APP/Assignments/MyAssignmentsDownload.asp?Filter=s:all&",
    "/APP/Search/Search.asp?Words=e&IncludeClosed=1&",
    "/APP/Search/SearchPrinterFriendly.asp?Words=e&IncludeClosed=1&",
    "/APP/Search/SearchDownload.asp?Words=e&IncludeClosed=1&",
};

TEST_F(SortOrdersTest, WhatIsNoSortKeyIsRefusedWithTheListsSentenceOnEveryPage) {
  const std::string engine = "Invalid sort order (the list cannot be sorted by it).";
  const std::pair<std::string, std::string> cases[] = {
      {"Issues.IssueId HAVING 1", "Invalid sort order (incorrect syntax near 'HAVING')."},
      {"Issues.IssueId LIMIT 1", "Invalid sort order (incorrect syntax near 'LIMIT')."},
      {"Issues.IssueId GROUP BY Issues.Summary", "Invalid sort order (incorrect syntax near 'GROUP')."},
      {"Issues.Summary DESC DESC, Issues.IssueId", "Invalid sort order (incorrect syntax near 'DESC')."},
      {"Issues.Summary DESC",
       "Invalid sort order (the last sort key takes its direction from the sort sequence)."},
      {"Resolutions.SortOrder", "Invalid sort order (the list has no table 'Resolutions')."},
      {"Issues.IssueId); delete from Issues; --", "Invalid sort order (incorrect syntax near ';')."},
      {"(select count(*) from IssueComments where IssueComments.IssueId = Issues.IssueId group by having)", engine},
      {"abs(Issues.IssueId, 2)", engine},
      {"99", engine},
  };
  for (const char* page : kPages)
    for (const auto& [order, sentence] : cases) {
      auto r = Get(std::string(page) + "OrderBy=" + UrlComponent(order) + "&OrderSeq=1");
      ASSERT_TRUE(r) << page << order;
      EXPECT_LT(r->status, 500) << page << " " << order;
      EXPECT_NE(r->body.find(">" + HtmlText(sentence) + "<"), std::string::npos) << page << " " << order << "\n"
                                                                                 << r->body;
      for (const char* engineWords : {"syntax error", "near &quot;", "near \"", "SQLite", "Error message"})
        EXPECT_EQ(r->body.find(engineWords), std::string::npos) << page << " " << order << ": " << engineWords;
    }
  // The engine's words are in the log, once for each refusal of its, as a warning: the caller's
  // mistake, not the site's.
  std::ifstream log(site.Folder() / "events.log");
  size_t warnings = 0, errors = 0;
  for (std::string line; std::getline(log, line);) {
    warnings += line.starts_with("warning ") && line.find("refused its input: the sort order") != std::string::npos;
    errors += line.starts_with("error ");
  }
  EXPECT_EQ(warnings, std::size(kPages) * 3);
  EXPECT_EQ(errors, 0u);
}

// The ids of a download, in its order (the first column of each row after the headings).
std::vector<std::string> DownloadedIds(const std::string& csv) {
  std::vector<std::string> ids;
  std::regex row("\r?\n\"?([0-9]+)");
  for (std::sregex_iterator it(csv.begin(), csv.end(), row), end; it != end; ++it) ids.push_back((*it)[1]);
  return ids;
}

TEST_F(SortOrdersTest, SortKeysStillSortEitherWay) {
  for (const std::string page : {kPages[2], kPages[5]}) {
    std::vector<std::string> orders[2];
    for (int seq : {0, 1}) {
      auto r = Get(page + "OrderBy=Issues.Summary&OrderSeq=" + std::to_string(seq));
      ASSERT_TRUE(r);
      ASSERT_EQ(r->status, 200) << r->body;
      orders[seq] = DownloadedIds(r->body);
    }
    ASSERT_GT(orders[0].size(), 2u) << page;
    EXPECT_EQ(orders[0], std::vector<std::string>(orders[1].rbegin(), orders[1].rend())) << page;
  }
  // A code field by its sort order, and keys with a direction of their own before the last.
  for (const char* order : {"PriorityCode_Priorities.SortOrder", "Issues.StatusCode desc, Issues.Summary"}) {
    auto r = Get(std::string(kPages[0]) + "OrderBy=" + UrlComponent(order) + "&OrderSeq=1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body.find("ErrorText"), std::string::npos) << order << "\n" << r->body;
  }
}

}  // namespace

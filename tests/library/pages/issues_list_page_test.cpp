// IssuesList.List: headings and their sort links, paging, the rows and sections of a layout.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "issues_list_fixture.h"
#include "support/com_error.h"

namespace issueslist_test {
namespace {

const std::string kOpen = "<table class=box2 border=0 cellspacing=0 cellpadding=0 width='100%'><tr>";
const std::string kHead = "<td nowrap style='BORDER-BOTTOM: #6294cd 1px solid'>";
const std::string kIssueNumberHeading =
    "<A tabindex=-1 class=formlabels  href ='/Assignments/MyAssignments.asp?Layout=Default&ProjectId=1&PageNum=1"
    "&OrderBy=Issues.IssueId&OrderSeq=1&'>Issue number&nbsp;<font face='Webdings' size=2>\xE2\x96\xBC</font>"
    "&nbsp;&nbsp;</a>";

TEST_F(IssuesListTest, EmptyRecordsetGivesTheOpeningTheHeadingsAndTheEnd) {
  Layout("admin", "Default", {{"IssueId"}});
  EXPECT_EQ(List(Issues("IssueId < 0"), {}), kOpen + kHead + kIssueNumberHeading + "</td></tr></td></tr></table>");
}

TEST_F(IssuesListTest, HeadingsLinkToTheirSortAndMarkTheSortedColumn) {
  Layout("admin", "Default", {{"IssueId", "Summary", "PriorityCode", "ProjectCode"}});
  const std::string html = List(Issues("IssueId < 0"), {});
  const std::string base = "<A tabindex=-1 class=formlabels  href ='/Assignments/MyAssignments.asp?Layout=Default"
                           "&ProjectId=1&PageNum=1&OrderBy=";
  EXPECT_NE(html.find(kIssueNumberHeading), std::string::npos);
  EXPECT_NE(html.find(base + "Issues.Summary&OrderSeq=0&'>Summary&nbsp;</a>"), std::string::npos);
  EXPECT_NE(html.find(base + "PriorityCode_Priorities.SortOrder&OrderSeq=0&'>Priority&nbsp;</a>"),
            std::string::npos);
  EXPECT_NE(html.find(base + "Projects.ProjectCode&OrderSeq=0&'>Project&nbsp;</a>"), std::string::npos);

  ListCall down;
  down.orderSeq = 1;
  EXPECT_NE(List(Issues("IssueId < 0"), down)
                .find(base + "Issues.IssueId&OrderSeq=0&'>Issue number&nbsp;<font face='Webdings' size=2>"
                             "\xE2\x96\xB2</font>&nbsp;&nbsp;</a>"),
            std::string::npos);
}

TEST_F(IssuesListTest, SortLinksCarryTheirValuesAsUrlComponents) {
  struct Case {
    std::string thisURL, layout, prefix, navQS, expected;
  } cases[] = {
      {"/Search/Search.asp?Text=a", "Default", "", "",
       " href ='/Search/Search.asp?Text=a&Layout=Default&ProjectId=1&PageNum=1&OrderBy=Issues.IssueId&OrderSeq=1&'"},
      {"/x.asp", "C++ & more", "", "",
       " href ='/x.asp?Layout=C%2B%2B%20%26%20more&ProjectId=1&PageNum=1&OrderBy=Issues.IssueId&OrderSeq=1&'"},
      {"/x.asp", "Default", "k", "a=1&b='x'",
       " href ='/x.asp?kLayout=Default&kProjectId=1&kPageNum=1&kOrderBy=Issues.IssueId&kOrderSeq=1&ka=1&amp;b=&#39;"
       "x&#39;'"},
  };
  for (const Case& c : cases) {
    Layout("admin", c.layout, {{"IssueId"}});
    ListCall call;
    call.thisURL = c.thisURL, call.layout = c.layout, call.prefix = c.prefix, call.navQS = c.navQS;
    EXPECT_NE(List(Issues("IssueId < 0"), call).find(c.expected), std::string::npos) << c.layout;
  }
}

TEST_F(IssuesListTest, WithoutAPageUrlTheHeadingsAreBlackSpans) {
  Layout("admin", "Default", {{"IssueId", "Summary"}, {"StatusCode"}});
  ListCall c;
  c.thisURL = "";
  const std::string html = List(Issues("IssueId = 1"), c);
  const std::string open =
      "<table class=box2 style='color:#000000' border=0 cellspacing=0 cellpadding=0 width='100%'><tr>"
      "<td nowrap style='BORDER-BOTTOM: #000000 1px solid'>";
  EXPECT_EQ(html.substr(0, open.size()), open);
  EXPECT_NE(html.find("<span class=formlabels  style='color:#000000'>Issue number&nbsp;<font face='Webdings' "
                      "size=2>\xE2\x96\xBC</font>&nbsp;&nbsp;</span></td><td nowrap style='BORDER-BOTTOM: #000000 "
                      "1px solid'><span class=formlabels  style='color:#000000'>Summary&nbsp;</span>"),
            std::string::npos);
  EXPECT_NE(html.find("valign=top><table class=box2 style='color:#000000' cellpadding=0"), std::string::npos);
}

TEST_F(IssuesListTest, PagesAreClampedToTheList) {
  Layout("admin", "Default", {{"IssueId"}});
  // Issues 7 to 1506, for page sizes past 1,000.
  Exec("INSERT INTO Issues (ProjectId, Summary) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
       " WHERE i < 1500) SELECT 1, 'More' FROM n");
  struct Case {
    int16_t pageNum, perPage;
    std::vector<int> shown;
    int issues = 6;
  };
  std::vector<Case> cases = {
      {0, 2, {1, 2}},
      {2, 2, {3, 4}},
      {3, 4, {5, 6}},
      {9, 4, {5, 6}},
      {1, 0, {1}},
      {-3, 5, {1, 2, 3, 4, 5}},
      {2, 1001, {1002, 1003, 1004, 1005, 1006}, 1006},
  };
  std::vector<int> all(1500);
  std::iota(all.begin(), all.end(), 1);
  cases.push_back({1, 1500, all, 1506});
  cases.push_back({2, 1500, {1501, 1502, 1503, 1504, 1505, 1506}, 1506});
  for (const Case& c : cases) {
    ListCall call;
    call.issuesURL = "", call.pageNum = c.pageNum, call.perPage = c.perPage;
    const std::string html = List(Issues("IssueId <= " + std::to_string(c.issues)), call);
    std::vector<int> shown;
    for (int id = 1; id <= c.issues; ++id)
      if (html.find("<td>" + std::to_string(id) + "</td>") != std::string::npos) shown.push_back(id);
    EXPECT_EQ(shown, c.shown) << c.pageNum << " " << c.perPage;
  }
}

TEST_F(IssuesListTest, IssuesAlternateTheirRowsAndSubRowsShareSections) {
  Layout("admin", "Default", {{"IssueId", "Summary", "StatusCode"}, {"ModuleCode", "SeverityCode"},
                              {"PriorityCode", "ResolutionCode"}});
  ListCall c;
  c.selection = true;
  const std::string html = List(Issues("IssueId <= 2"), c);
  const size_t first = html.find("</tr><tr><td></td></tr><tr><td nowrap><table border=0");
  const size_t second = html.find(
      "<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99></td></tr><tr bgcolor=#dadada><td nowrap>");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  const std::string issue1 = html.substr(first, second - first);
  EXPECT_NE(issue1.find("</tr><tr><td></td></tr><tr><td colspan=1></td><td colspan=3 valign=top><table class=box2 "
                        "cellpadding=0 cellspacing=0 border=0><tr><td valign=top nowrap>Module:</td>"),
            std::string::npos);
  EXPECT_NE(issue1.find("Core</td><td>&nbsp;&nbsp;&nbsp;</td><td valign=top nowrap>Severity:"), std::string::npos);
  EXPECT_NE(issue1.find("Major</td></tr><tr><td></td></tr><tr><tr><td valign=top nowrap>Priority:"),
            std::string::npos);
  EXPECT_NE(issue1.find("New</td></tr></table></td></tr><tr><td style='height:3'><div></div></td></tr><tr>"),
            std::string::npos);
  EXPECT_EQ(Count(issue1, "<table class=box2 "), 1u);
  EXPECT_NE(html.find("<tr bgcolor=#dadada><td colspan=99></td></tr><tr bgcolor=#dadada><td colspan=1>"),
            std::string::npos);
  EXPECT_NE(html.find("<tr bgcolor=#dadada><td colspan=99 style='height:3'><div></div></td></tr><tr></td></tr>"
                      "</table>"),
            std::string::npos);
}

TEST_F(IssuesListTest, UnselectableRowsHaveSpacers) {
  Layout("admin", "Default", {{"IssueId"}});
  ListCall c;
  c.issuesURL = "";
  EXPECT_EQ(List(Issues("IssueId <= 2"), c),
            kOpen + kHead + kIssueNumberHeading +
                "</td></tr><tr><td style='height:3'><div></div></td></tr><tr><td>1</td></tr>"
                "<tr><td style='height:3'><div></div></td></tr><tr>"
                "<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99 style='height:3'><div></div>"
                "</td></tr><tr bgcolor=#dadada><td>2</td></tr>"
                "<tr bgcolor=#dadada><td colspan=99 style='height:3'><div></div></td></tr><tr></td></tr></table>");
}

TEST_F(IssuesListTest, LayoutsOfManyRowsOpenAndCloseEverySection) {
  std::vector<std::vector<std::string>> rows = {{"IssueId"}};
  for (int r = 2; r <= 12; ++r) rows.push_back(r % 3 == 0 ? std::vector<std::string>{"Summary", "StatusCode"}
                                                           : std::vector<std::string>{"Summary"});
  Layout("admin", "Tall", rows);
  ListCall c;
  c.layout = "Tall";
  const std::string html = List(Issues("IssueId = 1"), c);
  // Counts 1, 2, 1, 1, 2, 1, 1, 2, 1, 1, 2 over rows 2 to 12: every change opens a section.
  EXPECT_EQ(Count(html, "<table class=box2 cellpadding"), 8u);
  EXPECT_EQ(Count(html, "</tr></table></td></tr>"), 8u);
  EXPECT_EQ(Count(html, "<td valign=top nowrap>Summary:"), 11u);
}

TEST_F(IssuesListTest, AColumnTheIssuesLackFailsTheCallUnderItsProcedures) {
  Layout("admin", "Default", {{"IssueId", "Summary"}});
  const auto e = testsupport::ErrorOf([&] {
    List(Variant(std::static_pointer_cast<automation::Object>(db->Read("select IssueId from Issues"))), {});
  });
  EXPECT_NE(e.source.find("IssuesList.List"), std::string::npos) << e.source;
  EXPECT_NE(e.source.find("IssuesList.OutputIssueField"), std::string::npos) << e.source;
}

}  // namespace
}  // namespace issueslist_test

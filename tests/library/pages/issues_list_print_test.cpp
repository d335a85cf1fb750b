// IssuesList.PrinterFriendly and IssuesList.DataFile on the demo site's issues.
#include <gtest/gtest.h>

#include <string>

#include "issues_list_fixture.h"
#include "support/com_error.h"

namespace issueslist_test {
namespace {

const std::string kPrintOpen =
    "<table class=box2 style='color:#000000' border=0 cellspacing=0 cellpadding=0 width='100%'><thead "
    "style='display: table-header-group'><tr><td colspan=99><b>Issues</b></td></tr><tr><td style='height:6px;'><div>"
    "</div></td></tr><tr>";
const std::string kPrintEnd =
    "<tr><td colspan=99 nowrap style='BORDER-BOTTOM: #000000 1px solid'><img height=1px width=0px></td></tr></table>";

TEST_F(IssuesListTest, AnEmptyPrintedListIsItsHeadingsAndTheRule) {
  Layout("admin", "Default", {{"IssueId", "PriorityCode"}});
  EXPECT_EQ(Printer(Issues("IssueId < 0"), "Default", "Priorities.SortOrder", 1),
            kPrintOpen +
                "<td nowrap style='BORDER-BOTTOM: #000000 1px solid'><span class=formlabels  style='color:#000000'>"
                "Issue number&nbsp;</span></td><td nowrap style='BORDER-BOTTOM: #000000 1px solid'><span "
                "class=formlabels  style='color:#000000'>Priority&nbsp;<font face='Webdings' size=2>\xE2\x96\xB2"
                "</font>&nbsp;&nbsp;</span></td></tr></thead>" +
                kPrintEnd);
}

TEST_F(IssuesListTest, ThePrintedListHasEveryIssueFromTheFirst) {
  Layout("admin", "Default", {{"IssueId", "Summary"}, {"ModuleCode"}});
  auto rs = Issues();
  rs.ToObject()->Call("MoveLast");
  const std::string html = Printer(rs, "Default");
  for (int id = 1; id <= 6; ++id)
    EXPECT_NE(html.find("<td>" + std::to_string(id) + "</td>"), std::string::npos) << id;
  EXPECT_NE(html.find("</tr></thead><tr><td style='height:3px;'><div></div></td></tr><tr><td>1</td>"),
            std::string::npos);
  EXPECT_NE(html.find("<tr bgcolor=#dadada style='page-break-before: auto'><td colspan=99 style='height:3px;'><div>"
                      "</div></td></tr><tr bgcolor=#dadada><td>2</td>"),
            std::string::npos);
  EXPECT_EQ(Count(html, "<table class=box2 style='color:#000000' cellpadding=0"), 6u);
  EXPECT_EQ(html.find("chkIssue"), std::string::npos);
  EXPECT_EQ(html.substr(html.size() - kPrintEnd.size()), kPrintEnd);
}

TEST_F(IssuesListTest, TheDownloadQuotesEveryCell) {
  Exec("UPDATE Issues SET Summary = 'He said \"hi\"' || char(13) || char(10) || 'bye' WHERE IssueId = 5");
  Exec("INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) VALUES "
       "(6, 'Comments', 'bob', 'a \"b\"' || char(13) || char(10) || 'c', '2099-01-02 07:03:00.000')");
  Exec("DELETE FROM IssueComments WHERE IssueId = 5");
  Layout("admin", "Csv", {{"IssueId", "Summary"}, {"Comments"}});
  const std::string text = DataFile(Issues("IssueId >= 5"), "Csv");
  const std::string start =
      "\"Issue number\",\"Summary\",\"Comments\"\r\n\"5\",\"He said \"\"hi\"\"\nbye\",\"\"\r\n\"6\",\"Error page";
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_NE(text.find("criteria\",\"1/2/2099 07:03 bob\na \"\"b\"\"\nc\n"), std::string::npos);
  EXPECT_NE(text.find(" alice\nSame problem as issue 2.\"\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(IssuesListTest, ADownloadWithoutCellsIsItsHeaderAndItsLineEnds) {
  Exec("UPDATE IssueFields SET FieldFriendlyName = 'a\"b' WHERE FieldName = 'Summary'");
  struct Case {
    std::vector<std::vector<std::string>> rows;
    std::string where, text;
  } cases[] = {
      {{{"IssueId", "Summary"}}, "IssueId < 0", "\"Issue number\",\"a\"\"b\"\r\n"},  // no issue: the header alone
      {{}, "IssueId <= 2", "\r\n\r\n\r\n"},                                      // no rows: empty lines
  };
  for (const auto& c : cases) {
    Layout("admin", "Csv", c.rows);
    EXPECT_EQ(DataFile(Issues(c.where), "Csv"), c.text) << c.where;
  }
}

// The same text as a field's name (the heading) and as an issue's value.
TEST_F(IssuesListTest, ADownloadPutsAnApostropheBeforeCellsThatStartAFormula) {
  Layout("admin", "Csv", {{"IssueId", "Summary"}});
  struct Case {
    std::string text, cell;
  } cases[] = {
      {"=1+1", "\"'=1+1\""},
      {"+1", "\"'+1\""},
      {"-1", "\"'-1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\t=1", "\"'\t=1\""},
      {"\r=1", "\"'\r=1\""},
      {"\r\n=1", "\"'\n=1\""},                      // the CR LF still becomes LF, behind the apostrophe
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},  // quotes doubled as before
      {"a=1", "\"a=1\""},                            // only the first character counts
      {" =1", "\" =1\""},
      {"\"=1\"", "\"\"\"=1\"\"\""},
      {"'=1", "\"'=1\""},
  };
  for (const auto& c : cases) {
    std::string literal;
    for (char ch : c.text) literal += ch == '\'' ? "''" : std::string(1, ch);
    Exec("UPDATE IssueFields SET FieldFriendlyName = '" + literal + "' WHERE FieldName = 'Summary'");
    Exec("UPDATE Issues SET Summary = '" + literal + "' WHERE IssueId = 1");
    EXPECT_EQ(DataFile(Issues("IssueId = 1"), "Csv"), "\"Issue number\"," + c.cell + "\r\n\"1\"," + c.cell + "\r\n")
        << c.text;
  }
}

TEST_F(IssuesListTest, ADownloadOfAMissingLayoutFails) {
  const auto e = testsupport::ErrorOf([&] { DataFile(Issues(), "Nowhere"); });
  EXPECT_NE(e.source.find("IssuesList.DataFile"), std::string::npos) << e.source;
}

TEST_F(IssuesListTest, ThePrintedListCountsPastThirtyTwoThousandIssues) {
  Layout("admin", "Ids", {{"IssueId"}});
  auto rs = db->Read(
      "with recursive n(IssueId) as (select 1 union all select IssueId + 1 from n where IssueId < 32770) "
      "select IssueId from n");
  const std::string html = Printer(Variant(std::static_pointer_cast<automation::Object>(rs)), "Ids");
  EXPECT_NE(html.find("<td>32770</td>"), std::string::npos);
  EXPECT_EQ(Count(html, "page-break-before"), 32770u / 2);
}

TEST_F(IssuesListTest, TheFilteredListOfTheReaderShowsItsColumns) {
  Layout("alice", "Default", {{"IssueId", "ProjectCode", "Summary"}});
  const Variant rs = db->Call("GetFilteredIssuesRs", {Variant(-1), Variant("s:all"), Variant("alice"),
                                                      Variant("Issues.IssueId"), Variant::Integer(0)});
  ListCall c;
  c.user = "alice", c.perPage = 2, c.pageNum = 2, c.selection = true;
  const std::string html = List(rs, c);
  EXPECT_NE(html.find("value='3'>"), std::string::npos);
  EXPECT_NE(html.find("<td nowrap valign=bottom>Demo</td><td nowrap valign=bottom>Offer a dark colour scheme</td>"),
            std::string::npos);
  EXPECT_EQ(Count(html, "chkIssue_Click()"), 2u);
}

}  // namespace
}  // namespace issueslist_test

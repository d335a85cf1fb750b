// The cells of IssuesList.List: the selection box and its rights, the issue link, encoded values,
// sub-rows and comments.
#include <gtest/gtest.h>

#include <string>

#include "issues_list_fixture.h"

namespace issueslist_test {
namespace {

const std::string kPayload = "<img src=x onerror=\"window.x=1\">&amp;\"'";
const std::string kPayloadSql = "<img src=x onerror=\"window.x=1\">&amp;\"''";
const std::string kPayloadText = "&lt;img src=x onerror=&quot;window.x=1&quot;&gt;&amp;amp;&quot;'";

TEST_F(IssuesListTest, TheBoxIsDisabledWhereTheUserMayNotModifyTheIssue) {
  Layout("carol", "Default", {{"IssueId"}});
  ListCall c;
  c.user = "carol", c.selection = true;
  const std::string html = List(Issues("IssueId <= 2"), c);
  const std::string link1 =
      " href ='/Issues/Issue.asp?IssueId=1&NavSource=MyAssignments&ProjectId=1&OrderBy=Issues.IssueId&OrderSeq=0&'";
  EXPECT_NE(html.find("<td nowrap><table border=0 cellspacing=0 cellpadding=0><tr><td valign=top style='height:10px' >"
                      "<input style='height:12px' valign=top " +
                      kCheckBox + " disabled value='1'>&nbsp;</td><td valign=bottom width=100% " + kHandlers +
                      "><a tabindex=-1 class=box " + link1 + ">1</a></td></tr></table></td>"),
            std::string::npos);
  EXPECT_NE(html.find(kCheckBox + " value='2'>"), std::string::npos);  // carol's own issue
}

TEST_F(IssuesListTest, IssueLinksKeepTheListAndAddToAQuery) {
  Layout("admin", "Default", {{"Summary"}, {"IssueId"}});
  ListCall c;
  c.issuesURL = "/Issues/Issue.asp?Mode=view", c.navQS = "Filter=s:all", c.orderBy = "Issues.Summary";
  EXPECT_NE(List(Issues("IssueId = 3"), c)
                .find("<td valign=top nowrap>Issue number:</td><td nowrap valign=top>&nbsp;</td><td valign=top " +
                      kHandlers +
                      "><a tabindex=-1 class=box  href ='/Issues/Issue.asp?Mode=view&IssueId=3&NavSource=MyAssignments"
                      "&ProjectId=1&OrderBy=Issues.Summary&OrderSeq=0&Filter=s:all'>3</a></td>"),
            std::string::npos);
}

TEST_F(IssuesListTest, EveryValueIsWrittenAsText) {
  Exec("UPDATE Issues SET Summary = '" + kPayloadSql + "' || char(13) || char(10) || 'line two' WHERE IssueId = 5");
  Exec("UPDATE IssueFields SET FieldFriendlyName = '<i>Module</i>' WHERE FieldName = 'ModuleCode'");
  Exec("UPDATE IssueFields SET FieldFriendlyName = '<u>Title</u>' WHERE FieldName = 'Summary'");
  Layout("admin", "Default", {{"IssueId", "Summary"}, {"Summary", "ModuleCode"}});
  ListCall c;
  c.issuesURL = "";
  const std::string html = List(Issues("IssueId = 5"), c);
  EXPECT_NE(html.find("<td nowrap>" + kPayloadText + "\r\nline two</td>"), std::string::npos);
  EXPECT_NE(html.find("<td valign=top>" + kPayloadText + "<br>line two</td>"), std::string::npos);
  EXPECT_NE(html.find("<td valign=top nowrap>&lt;i&gt;Module&lt;/i&gt;:</td>"), std::string::npos);
  EXPECT_NE(html.find("&OrderBy=Issues.Summary&OrderSeq=0&'>&lt;u&gt;Title&lt;/u&gt;&nbsp;</a>"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("<i>"), std::string::npos);
  EXPECT_EQ(html.find("<u>"), std::string::npos);
}

TEST_F(IssuesListTest, CommentsAreListedNewestFirstAndAnIssueWithoutKeepsTheFrame) {
  Exec("INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) VALUES "
       "(5, 'Comments', '<u>bob</u>', 'first' || char(13) || char(10) || '<b>x</b>', '2026-03-04 09:05:00.000'), "
       "(5, 'Comments', 'alice', 'second', '2026-11-12 17:30:00.000')");
  Layout("admin", "Default", {{"IssueId", "Comments"}, {"Comments"}});
  ListCall c;
  c.issuesURL = "";
  const std::string one = List(Issues("IssueId = 5"), c);
  const std::string rows =
      "<table cellspacing=0 cellpadding=0 border=0 width='100%'><tr><td nowrap class=box2 valign=top>11/12/2026 17:30 "
      "alice</td><td valign=top class=box2>&nbsp;&nbsp;</td><td width=100% class=box2>second</td></tr>"
      "<tr><td nowrap class=box2 valign=top>3/4/2026 09:05 &lt;u&gt;bob&lt;/u&gt;</td><td valign=top class=box2>"
      "&nbsp;&nbsp;</td><td width=100% class=box2>first<br>&lt;b&gt;x&lt;/b&gt;</td></tr></table></td>";
  EXPECT_NE(one.find("<td>5</td><td valign=top>" + rows), std::string::npos);
  EXPECT_NE(one.find("<td valign=top nowrap>Comments:</td><td nowrap valign=top>&nbsp;</td><td valign=top>" + rows),
            std::string::npos);
  const std::string none = List(Issues("IssueId = 6"), c);
  Exec("DELETE FROM IssueComments WHERE IssueId = 6");
  EXPECT_NE(List(Issues("IssueId = 6"), c)
                .find("<td>6</td><td valign=top><table cellspacing=0 cellpadding=0 border=0 width='100%'></table></td>"
                      "</tr>"),
            std::string::npos);
  EXPECT_NE(none.find("Same problem as issue 2."), std::string::npos);
}

TEST_F(IssuesListTest, ANullValueGivesAnEmptyCell) {
  Layout("admin", "Default", {{"IssueId", "DateClosed"}, {"DateClosed"}});
  ListCall c;
  c.issuesURL = "", c.selection = false;
  const std::string html = List(Issues("IssueId = 1"), c);
  EXPECT_NE(html.find("<td>1</td><td nowrap></td>"), std::string::npos);
  EXPECT_NE(html.find("<td nowrap valign=top>&nbsp;</td><td valign=top></td>"), std::string::npos);
}

}  // namespace
}  // namespace issueslist_test

// DetailsPrinterFriendly.Body called by name on the layouts and issues of real site files.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

constexpr const char* kTable = "<table cellpadding='0' cellspacing='5px' border='0' width='98%'>";

class DetailsPrinterFriendlyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    db = sitedb::Open(file);
    details = automation::CreateObject("Brisquel.DetailsPrinterFriendly");
  }
  void Layout(const std::vector<std::vector<std::string>>& rows) {
    sitedb::Db raw(file);
    raw.Exec("DELETE FROM DataEntryLayoutFields");
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < rows[r].size(); ++c)
        raw.Exec("INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES (1, " +
                 std::to_string(r + 1) + ", " + std::to_string(c + 1) + ", '" + rows[r][c] + "')");
  }
  void Field(const std::string& name, const std::string& rep, const std::string& columnType) {
    sitedb::Db raw(file);
    raw.Exec("ALTER TABLE Issues ADD COLUMN " + name + " " + columnType);
    raw.Exec("INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation) VALUES ('" + name + "', '" +
             name + "', '" + rep + "')");
  }
  std::string Body(int issue = 1) {
    auto rs = db->Read("select * from Issues where IssueId = " + std::to_string(issue));
    return details
        ->Call("Body", {Variant(std::static_pointer_cast<automation::Object>(db)),
                        Variant(std::static_pointer_cast<automation::Object>(rs)), Variant("alice")})
        .ToString();
  }
  // The state block of an issue with these codes.
  static std::string State(const std::string& res, const std::string& user, const std::string& status) {
    std::string s = std::string(kTable) + "<tr><td style='height:2px'><div></div></td></tr><tr>";
    for (const char* l : {"Resolution", "Assign To", "Status"})
      s += "<td nowrap class='FormLabels' style='width: 25%; border-bottom: #222222 1px solid'>" + std::string(l) +
           "</td>";
    s += "</tr><tr>";
    for (const auto& v : {res, user, status}) s += "<td class='FormFields' style='width:33%'>" + v + "</td>";
    return s + "</tr></table>";
  }
  void Sql(const std::string& s) { sitedb::Db(file).Exec(s); }

  std::filesystem::path file;
  std::shared_ptr<brisquel::Database> db;
  ObjectPtr details;
};

TEST_F(DetailsPrinterFriendlyTest, AnEmptyLayoutGivesTheStateBlockAlone) {
  Layout({});
  EXPECT_EQ(Body(), State("New", "alice", "Open"));
}

TEST_F(DetailsPrinterFriendlyTest, EachLayoutRowIsATableOfLabelsOverValues) {
  Layout({{"ProjectCode", "ModuleCode"}, {"Summary"}});
  EXPECT_EQ(Body(), std::string(kTable) +
                        "<tr><td nowrap class='FormLabels' style='width: 33%; border-bottom: #222222 1px solid;'>"
                        "Project</td><td nowrap class='FormLabels' style='width: 33%; border-bottom: #222222 1px "
                        "solid;'>Module</td></tr><tr><td class='FormFields' style='width:33%'>Demo</td>"
                        "<td class='FormFields' style='width:33%'>Core</td></tr></table>\r\n" +
                        kTable +
                        "<tr><td nowrap class='FormLabels' style='width: 33%; border-bottom: #222222 1px solid;'>"
                        "Summary</td></tr><tr><td class='FormFields' style='width:33%'>The login page refuses "
                        "passwords that contain a blank</td></tr></table>\r\n" +
                        State("New", "alice", "Open"));
}

TEST_F(DetailsPrinterFriendlyTest, TwelveCellsInFourRowsAreEachOneTwelfthWide) {
  Layout({{"Summary", "Summary", "Summary"}, {"Summary", "Summary", "Summary"}, {"Summary", "Summary", "Summary"},
          {"Summary", "Summary", "Summary"}});
  const std::string html = Body();
  size_t labels = 0, values = 0;
  for (size_t at = 0; (at = html.find("style='width: 8%; border-bottom", at)) != std::string::npos; ++at) ++labels;
  for (size_t at = 0; (at = html.find("style='width:8%'>", at)) != std::string::npos; ++at) ++values;
  EXPECT_EQ(labels, 12u);
  EXPECT_EQ(values, 12u);
  EXPECT_TRUE(html.ends_with(State("New", "alice", "Open")));
}

TEST_F(DetailsPrinterFriendlyTest, EachRepresentationShowsItsValue) {
  Field("Urgent", "checkbox", "BIT NULL");
  Field("Due", "datetime", "DATETIME NULL");
  Field("Notes", "multiline", "TEXT NULL");
  Field("Odd", "Combo", "TEXT NULL");
  Sql("UPDATE Issues SET Due = '2026-02-07 13:00:00.000', Notes = 'a < b' || char(13, 10) || 'c' || char(10) || 'd' "
      "WHERE IssueId = 1");
  struct Case {
    std::string urgent, field, shown;
  };
  for (const auto& c : std::vector<Case>{{"NULL", "Urgent", "No"},
                                         {"1", "Urgent", "Yes"},
                                         {"NULL", "Due", "2/7/2026"},
                                         {"NULL", "Notes", "a &lt; b<br>c\nd"},
                                         {"NULL", "Odd", "*** bad rep ***"},
                                         {"NULL", "", "&nbsp;"}}) {
    Sql("UPDATE Issues SET Urgent = " + c.urgent + " WHERE IssueId = 1");
    Layout({{c.field}});
    EXPECT_NE(Body().find("<td class='FormFields' style='width:100%'>" + c.shown + "</td>"), std::string::npos)
        << c.field << " " << c.urgent;
  }
}

TEST_F(DetailsPrinterFriendlyTest, CommentsAreATableNewestFirstAndNoCommentsTheBareTable) {
  Layout({{"Comments"}});
  Sql("UPDATE IssueComments SET CommentCreatedOn = '2026-01-02 03:04:00.000' WHERE IssueId = 2 AND "
      "CommentAuthor = 'carol'");
  Sql("UPDATE IssueComments SET CommentCreatedOn = '2026-01-03 15:30:00.000', CommentText = 'x' || char(13, 10) || "
      "'y' WHERE IssueId = 2 AND CommentAuthor = 'alice'");
  const std::string row = "<tr><td nowrap class=FormFields valign=top style='border-bottom: buttonface 1px solid'>";
  const std::string spacer =
      "</td><td valign=top class=FormFields style='border-bottom: buttonface 1px solid'>&nbsp;&nbsp;</td>"
      "<td width=100% class=FormFields style='border-bottom: buttonface 1px solid'>";
  EXPECT_NE(Body(2).find("<table cellspacing='0' cellpadding='0' border='0' width='100%'>" + row +
                         "1/3/2026 15:30 alice" + spacer + "x<br>y</td></tr>" + row + "1/2/2026 03:04 carol" + spacer +
                         "Open the search page, choose &quot;New filter&quot; and save it without adding a "
                         "criterion.</td></tr></table>"),
            std::string::npos);
  Sql("DELETE FROM IssueComments WHERE IssueId = 2");
  EXPECT_NE(Body(2).find("style='width:100%'><table cellspacing='0' cellpadding='0' border='0' width='100%'>"
                         "</table></td>"),
            std::string::npos);
}

TEST_F(DetailsPrinterFriendlyTest, LabelsCodesAuthorsAndStateValuesAreEncoded) {
  const std::string payload = "</textarea><img src=x onerror=\"window.x=1\">&amp;\"'";
  const std::string text = "&lt;/textarea&gt;&lt;img src=x onerror=&quot;window.x=1&quot;&gt;&amp;amp;&quot;'";
  const std::string q = "'</textarea><img src=x onerror=\"window.x=1\">&amp;\"'''";
  Sql("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, " + q + ")");
  Sql("INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES (" + q + ", 9)");
  Sql("INSERT INTO StatusCodes (StatusCode, SortOrder) VALUES (" + q + ", 9)");
  Sql("INSERT INTO Users (UserId) VALUES (" + q + ")");
  Sql("UPDATE Issues SET ModuleCode = " + q + ", Summary = " + q + ", ResolutionCode = " + q +
      ", AssignedToUser = " + q + ", StatusCode = " + q + " WHERE IssueId = 1");
  Sql("UPDATE IssueFields SET FieldFriendlyName = " + q + " WHERE FieldName = 'Summary'");
  Sql("UPDATE IssueComments SET CommentAuthor = " + q + ", CommentText = " + q + " WHERE IssueId = 1");
  Layout({{"Summary", "ModuleCode"}, {"Comments"}});
  const std::string html = Body();
  EXPECT_EQ(html.find(payload), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_NE(html.find("1px solid;'>" + text + "</td>"), std::string::npos);
  EXPECT_NE(html.find("style='width:33%'>" + text + "</td>"), std::string::npos);
  EXPECT_NE(html.find(" " + text + "</td><td valign=top"), std::string::npos);
  EXPECT_TRUE(html.ends_with(State(text, text, text))) << html;
}

TEST_F(DetailsPrinterFriendlyTest, AFailureNamesTheWriterThenBody) {
  Field("Custom", "combo", "TEXT NULL");
  Layout({{"Custom"}});
  const auto e = testsupport::ErrorOf([&] { Body(); });
  EXPECT_NE(e.source.find("DetailsPrinterFriendly.Body\r\nBrisquel.dll:DetailsPrinterFriendly.WriteComboField"),
            std::string::npos)
      << e.source;
}

// The object's release closes the issue recordset a failed Body kept; a successful Body leaves it open.
TEST_F(DetailsPrinterFriendlyTest, ReleaseClosesTheIssueRecordsetOnlyAfterAFailedBody) {
  Field("Custom", "combo", "TEXT NULL");
  for (auto [layout, open] : std::vector<std::pair<std::string, bool>>{{"Summary", true}, {"Custom", false}}) {
    Layout({{layout}});
    auto rs = db->Read("select * from Issues where IssueId = 1");
    auto object = automation::CreateObject("Brisquel.DetailsPrinterFriendly");
    try {
      object->Call("Body", {Variant(std::static_pointer_cast<automation::Object>(db)),
                            Variant(std::static_pointer_cast<automation::Object>(rs)), Variant("alice")});
    } catch (const automation::ComError&) {
    }
    object.reset();
    EXPECT_EQ(rs->State() == ado::adStateOpen, open) << layout;
  }
}

}  // namespace

// DataEntryForm called by name on the layouts, fields and issues of real site files.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "core/multipart.h"
#include "pages/data_entry_form.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

struct Cell {
  int row, order;
  std::string field;
};

const std::string kPayload = "</textarea><img src=x onerror=\"window.x=1\">&amp;\"'";
const std::string kPayloadText = "&lt;/textarea&gt;&lt;img src=x onerror=&quot;window.x=1&quot;&gt;&amp;amp;&quot;'";
const std::string kPayloadAttr =
    "&lt;/textarea&gt;&lt;img src=x onerror=&quot;window.x=1&quot;&gt;&amp;amp;&quot;&#39;";

class DataEntryFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    db = sitedb::Open(file);
    form = automation::CreateObject("Brisquel.DataEntryForm");
  }
  // Replaces the entry layout by these cells ("" for an empty cell).
  void Layout(const std::vector<Cell>& cells) {
    sitedb::Db raw(file);
    raw.Exec("DELETE FROM DataEntryLayoutFields");
    for (const auto& c : cells)
      raw.Exec("INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES (1, " +
               std::to_string(c.row) + ", " + std::to_string(c.order) + ", '" + c.field + "')");
  }
  // A field of the test's own with an Issues column of that type.
  void Field(const std::string& name, const std::string& friendly, const std::string& rep,
             const std::string& columnType) {
    sitedb::Db raw(file);
    raw.Exec("ALTER TABLE Issues ADD COLUMN " + name + " " + columnType);
    raw.Exec("INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation, NumLines) VALUES ('" + name +
             "', '" + friendly + "', '" + rep + "', 1)");
  }
  Variant Issue(int id) { return Variant(std::static_pointer_cast<automation::Object>(db->Read(
                              "select * from Issues where IssueId = " + std::to_string(id)))); }
  Variant Posted(const std::vector<std::pair<std::string, std::string>>& values) {
    auto f = std::make_shared<brisquel::MultipartFormData>();
    for (const auto& [k, v] : values) f->Fields()->Add(k, v);
    return Variant(std::static_pointer_cast<automation::Object>(f));
  }
  std::string Body(const std::string& mode, Variant rs = Variant(), Variant posted = Variant(),
                   const std::string& lastProject = "", const std::string& user = "alice") {
    return form->Call("Body", {Variant(std::static_pointer_cast<automation::Object>(db)), rs, Variant(mode), posted,
                               Variant(lastProject), Variant(user)})
        .ToString();
  }
  std::string Header(const std::string& user, int issue, const std::string& res, const std::string& status,
                     const char* progId = "Brisquel.DataEntryForm") {
    return automation::CreateObject(progId)
        ->Call("Header", {Variant(user), Variant(std::static_pointer_cast<automation::Object>(db)), Variant(issue),
                          Variant(res), Variant(status)})
        .ToString();
  }
  void Sql(const std::string& s) { sitedb::Db(file).Exec(s); }

  std::filesystem::path file;
  std::shared_ptr<brisquel::Database> db;
  ObjectPtr form;
};

TEST(CellWidth, RoundsToTheNearestWholeNumberAndAHalfToEven) {
  for (auto [cells, width] : std::vector<std::pair<int, std::string>>{
           {1, "100"}, {2, "50"}, {3, "33"}, {6, "17"}, {7, "14"}, {8, "12"}, {12, "8"}, {201, "0"}})
    EXPECT_EQ(brisquel::issue_form::CellWidth(cells), width) << cells;
}

TEST_F(DataEntryFormTest, ARowOfThreeFieldsOpensItsCellsAtAThird) {
  Layout({{1, 1, "PriorityCode"}, {1, 2, "SeverityCode"}, {1, 3, "ModuleCode"}});
  const std::string html = Body("add");
  EXPECT_EQ(html.rfind("<table cellpadding='0' cellspacing='0' border='0' width='98%'>"
                       "<tr><td style='height:2px'><div></div></td></tr><tr>"
                       "<td nowrap class='FormLabels' style='width: 33%'>Priority</td>"
                       "<td nowrap class='FormLabels' style='width: 33%'>Severity</td>"
                       "<td nowrap class='FormLabels' style='width: 33%'>Module</td></tr>"
                       "<tr><td style='height:2px'><div></div></td></tr><tr><td class='FormFields' style='width:33%'>",
                       0),
            0u);
  EXPECT_NE(html.find("</select></td><td class='FormFields' style='width:33%'><select"), std::string::npos);
  EXPECT_TRUE(html.ends_with("</td></tr><tr><td style='height:3px'><div></div></td></tr></table>\r\n"));
}

TEST_F(DataEntryFormTest, AFieldBesideAnEmptyCellTakesHalfAndTheEmptyCellWritesASpace) {
  Layout({{1, 1, "Summary"}, {1, 2, ""}});
  const std::string html = Body("add");
  EXPECT_NE(html.find("<td nowrap class='FormLabels' style='width: 50%'>Summary</td>"
                      "<td nowrap class='FormLabels' style='width: 50%'></td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("</textarea></td><td class='FormFields' style='width:50%'>&nbsp;</td></tr>"), std::string::npos);
}

// One field on the layout: the cell it writes for the mode, the stored issue and the form project.
TEST_F(DataEntryFormTest, EachFieldWritesItsCellForTheMode) {
  struct Case {
    const char* name;
    std::string setUp, field, mode;
    bool stored;
    std::string last, user, cell;
    Variant posted = Variant();
  };
  Field("Due", "Due", "datetime", "DATETIME NULL");
  Sql("UPDATE Issues SET Due = '2026-02-07 00:00:00.000' WHERE IssueId = 1");
  Sql("UPDATE IssueComments SET CommentCreatedOn = '2026-03-04 17:05:09.000' WHERE IssueId = 1");
  const std::vector<Case> cases = {
      {"the summary being modified is a textarea of one line with the stored text", "", "Summary", "modify", true, "",
       "alice",
       "<textarea id='Summary' name='Summary' style='width:100%;  overflow:hidden; ' class='formfields' "
       "onchange='return IssueUpdated();' oncut='return IssueUpdated();' onkeydown='return IssueUpdated();' rows=1 "
       "onfocus='Summary.select();'>The login page refuses passwords that contain a blank</textarea>"},
      // Modes are compared exactly: "Modify" is a new issue's form, showing nothing stored.
      {"modes are compared exactly", "", "Summary", "Modify", true, "", "alice",
       "rows=1 onfocus='Summary.select();'></textarea>"},
      {"the project of an issue being modified is shown disabled and posted hidden", "", "ProjectCode", "modify", true,
       "", "alice",
       "<select onkeydown='return EnterInComboBox();' id='inq_ProjectCode' name='inq_ProjectCode' style='width:98%' "
       "disabled ><option selected value = \"1\">Demo</option>\r\n</select><input id='ProjectCode' "
       "name='ProjectCode' type='hidden' value=\"1\">"},
      {"a new issue offers the form project and calls the project handler", "", "ProjectCode", "add", false, "",
       "alice",
       "<select onkeydown='return EnterInComboBox();' id='ProjectCode' name='ProjectCode' style='width:98%' "
       "onkeydown='return EnterInComboBox();' onchange='return cmbProject_onchange();' ><option selected value = "
       "\"1\">Demo</option>\r\n</select>"},
      {"a representation outside the list writes bad rep",
       "INSERT INTO IssueFields (FieldName, FieldFriendlyName, Representation) VALUES ('Odd', 'Odd', 'Text')", "Odd",
       "add", false, "", "alice", "<td class='FormFields' style='width:100%'>*** bad rep ***</td>"},
      {"a code table without values for the project gives one empty option",
       "INSERT INTO Projects (ProjectId, ProjectCode, ProjectDescription) VALUES (2, 'Bare', '')", "ModuleCode", "add",
       false, "2", "admin", "onchange='return IssueUpdated();' ><option></option></select>"},
      {"a date is a date input that copies into its hidden input", "", "Due", "modify", true, "", "alice",
       "<input type=date id='dt_Due' name='dt_Due' style='width:98%' value='2026-02-07' "
       "onchange='this.form.elements[\"Due\"].value = this.value; return IssueUpdated();'>"
       "<input id='Due' name='Due' type='hidden' value=\""},
      {"a date in inquiry mode is disabled", "", "Due", "inquiry", true, "", "alice",
       "style='width:98%' value='2026-02-07' disabled><input id='Due'"},
      {"a posted date goes out encoded", "", "Due", "modify", true, "", "alice", "value=\"x&quot;&gt;&lt;b&gt;\">",
       Posted({{"Due", "x\"><b>"}})},
      // Comments being modified: the stored ones closed in their cell, then the rows of a new comment.
      {"a stored comment shows its date and author", "", "Comments", "modify", true, "", "alice",
       "<td nowrap class=FormFields valign=top style='border-bottom: buttonface 1px solid'>3/4/2026 17:05 carol</td>"},
      {"comments being modified close the cell and add the new comment rows", "", "Comments", "modify", true, "",
       "alice",
       "</table></div></td></tr></table></td></tr><tr><td style='height:7px'><div></div></td></tr>"
       "<tr><td nowrap class='FormLabels'>Your Comments</td></tr>"
       "<tr><td style='height:2px'><div></div></td></tr><tr><td><textarea id='Comments' "
       "name='Comments' style='clip:hard; width:100%' class='formfields' onchange='return "
       "IssueUpdated();' oncut='return IssueUpdated();' onkeydown='return IssueUpdated();' rows=2>"
       "</textarea></td></tr>"},
      {"a new issue's comment box holds the posted text", "", "Comments", "add", false, "", "alice",
       "onkeydown='return IssueUpdated();' rows=8>a &lt; b</textarea>", Posted({{"Comments", "a < b"}})},
      {"a long comment renders whole", "UPDATE IssueComments SET CommentText = '" + std::string(20000, '<') +
       "' WHERE IssueId = 1", "Comments", "inquiry", true, "", "alice", [] {
         std::string encoded;
         for (int i = 0; i < 20000; ++i) encoded += "&lt;";
         return encoded;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.setUp.empty()) Sql(c.setUp);
    Layout({{1, 1, c.field}});
    EXPECT_NE(Body(c.mode, c.stored ? Issue(1) : Variant(), c.posted, c.last, c.user).find(c.cell), std::string::npos);
  }
}

TEST_F(DataEntryFormTest, InquiryBoxesAreEighteenPixelsALineAndPostTheStoredText) {
  Layout({{1, 1, "Summary"}});
  for (auto [lines, height] : std::vector<std::pair<int, std::string>>{{1, "19"}, {4, "73"}}) {
    Sql("UPDATE IssueFields SET NumLines = " + std::to_string(lines) + " WHERE FieldName = 'Summary'");
    const std::string html = Body("inquiry", Issue(1));
    EXPECT_NE(html.find("<div class='formfields' style='padding: 1px; width: 100%; height:" + height +
                        "px; overflow-y: scroll; border-top: 1px solid threeddarkshadow; border-left: 1px solid "
                        "threeddarkshadow;'>"),
              std::string::npos)
        << lines;
    EXPECT_NE(html.find("</table><input id='Summary' name='Summary' type='hidden' value=\"The login page refuses "
                        "passwords that contain a blank\">"),
              std::string::npos);
  }
}

// The project whose codes the boxes offer, by the first rule that applies.
TEST_F(DataEntryFormTest, TheFormProjectIsTheFirstUsableOfPostedGivenDefaultAndFirstOpen) {
  Sql("INSERT INTO Projects (ProjectId, ProjectCode, ProjectDescription) VALUES (2, 'Aardvark', ''), "
      "(3, 'Other', '')");
  Sql("INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (3, 'alice'), (2, 'bob')");
  Sql("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, 'M1only'), (3, 'M3only'), (2, 'M2only')");
  Sql("UPDATE Users SET DefaultProject = 3 WHERE UserId = 'alice'");
  Layout({{1, 1, "ModuleCode"}});
  struct Case {
    Variant posted;
    std::string last, user, expected;
  };
  const std::vector<Case> cases = {
      {Posted({{"ProjectCode", "1"}}), "3", "alice", "M1only"},  // posted before given
      {Posted({{"ProjectCode", "2"}}), "1", "alice", "M1only"},  // posted, not hers: given
      {Variant(), "1", "alice", "M1only"},                       // given
      {Variant(), "2", "alice", "M3only"},                       // given, not hers: her default
      {Variant(), "", "bob", "M2only"},                          // default -1: first code of his
  };
  Sql("UPDATE Users SET DefaultProject = -1 WHERE UserId = 'bob'");
  for (const auto& c : cases) EXPECT_NE(Body("add", Variant(), c.posted, c.last, c.user).find(c.expected),
                                        std::string::npos) << c.last << c.user;
}

TEST_F(DataEntryFormTest, ACheckboxIsTickedOnlyByATrueStoredValueOrAPostedOn) {
  Field("Urgent", "Urgent", "checkbox", "BIT NULL");
  Layout({{1, 1, "Urgent"}});
  const std::string box = "<input id='Urgent' name='Urgent' type='checkbox' onclick='return IssueUpdated();'";
  struct Case {
    std::string stored;
    Variant posted;
    bool ticked;
  };
  const std::vector<Case> cases = {{"NULL", Variant(), false},
                                   {"1", Variant(), true},
                                   {"0", Variant(), false},
                                   {"1", Posted({{"Urgent", "On"}}), false},
                                   {"0", Posted({{"Urgent", "on"}}), true}};
  for (const auto& c : cases) {
    Sql("UPDATE Issues SET Urgent = " + c.stored + " WHERE IssueId = 1");
    const std::string html = Body("modify", Issue(1), c.posted);
    EXPECT_NE(html.find("<td nowrap class='FormLabels' style='width: 100%'></td>"), std::string::npos);
    EXPECT_NE(html.find("<table class='box2' cellpadding='0' cellspacing='0' border='0'><tr><td valign='middle'>" +
                        box + (c.ticked ? " checked" : "") +
                        "></td><td class='FormLabels' valign='middle'>Urgent</td></tr></table>"),
              std::string::npos)
        << c.stored;
  }
  Sql("UPDATE Issues SET Urgent = 1 WHERE IssueId = 1");
  EXPECT_NE(Body("inquiry", Issue(1))
                .find("<input id='inq_Urgent' name='inq_Urgent' type='checkbox' onclick='return IssueUpdated();' "
                      "disabled checked><input id='Urgent' name='Urgent' type='hidden' value=\"on\"></td>"),
            std::string::npos);
}

TEST_F(DataEntryFormTest, HiddenWritesEveryLayoutFieldPostedAndSkipsEmptyCells) {
  Field("Urgent", "Urgent", "checkbox", "BIT NULL");
  Layout({{1, 1, "Summary"}, {1, 2, ""}, {2, 1, "Urgent"}});
  EXPECT_EQ(form->Call("Hidden", {Variant(std::static_pointer_cast<automation::Object>(db)),
                                  Posted({{"Summary", "a\"'<b"}}), Variant("alice")})
                .ToString(),
            "<input type=hidden id=Summary name=Summary value=\"a&quot;&#39;&lt;b\">\r\n"
            "<input type=hidden id=Urgent name=Urgent value=\"\">\r\n");
}

// What a user typed, a code or a label goes out as text wherever it lands.
TEST_F(DataEntryFormTest, StoredAndPostedTextsGoOutEncodedForTheirPlace) {
  Field("Custom", "x", "text", "VARCHAR(255) NULL");
  sitedb::Db raw(file);
  auto quoted = [&](const std::string& s) {
    std::string q;
    for (char ch : s) q += ch == '\'' ? std::string("''") : std::string(1, ch);
    return "'" + q + "'";
  };
  raw.Exec("UPDATE IssueFields SET FieldFriendlyName = " + quoted(kPayload) + " WHERE FieldName = 'Custom'");
  raw.Exec("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, " + quoted(kPayload) + ")");
  raw.Exec("UPDATE Issues SET Summary = " + quoted(kPayload) + ", Custom = " + quoted(kPayload) +
           ", ModuleCode = " + quoted(kPayload) + " WHERE IssueId = 1");
  raw.Exec("UPDATE IssueComments SET CommentText = " + quoted(kPayload) + ", CommentAuthor = " + quoted(kPayload) +
           " WHERE IssueId = 1");
  Layout({{1, 1, "Summary"}, {1, 2, "Custom"}, {2, 1, "ModuleCode"}, {3, 1, "Comments"}});
  for (const char* mode : {"modify", "inquiry"}) {
    const std::string html = Body(mode, Issue(1));
    EXPECT_EQ(html.find("<img"), std::string::npos) << mode;
    EXPECT_EQ(html.find(kPayload), std::string::npos) << mode;
    EXPECT_NE(html.find("style='width: 50%'>" + kPayloadText + "</td>"), std::string::npos) << mode;
    EXPECT_NE(html.find("<option selected>" + kPayloadText + "</option>"), std::string::npos) << mode;
    EXPECT_NE(html.find(kPayloadText + "</td><td valign=top class=FormFields"), std::string::npos) << mode;
  }
  EXPECT_NE(Body("inquiry", Issue(1)).find("type='hidden' value=\"" + kPayloadAttr + "\">"), std::string::npos);
}

TEST_F(DataEntryFormTest, FailuresNameTheWriterThenBody) {
  Field("Custom", "Custom", "text", "VARCHAR(255) NULL");
  Layout({{1, 1, "Custom"}});
  const auto e = testsupport::ErrorOf([&] { Body("modify", Issue(1)); });
  EXPECT_EQ(e.number, 13);
  EXPECT_NE(e.source.find("DataEntryForm.Body\r\nBrisquel.dll:DataEntryForm.WriteMultilineField"), std::string::npos)
      << e.source;
}

// The validation script of the built workflow: New/Open requires the Summary.
TEST_F(DataEntryFormTest, HeaderChecksTheSummaryOfANewIssue) {
  EXPECT_EQ(Header("bob", -1, "New", "Open"),
            "<SCRIPT LANGUAGE=javascript>\r\nfunction Validate() { \r\n"
            "if (Trim(fIssueDetail.Summary.value) == '') { \r\nalert('Summary cannot be blank.'); \r\n"
            "fIssueDetail.Summary.focus(); \r\nreturn false; \r\n} \r\nreturn true;\r\n}\r\n</SCRIPT>\r\n");
}

TEST_F(DataEntryFormTest, HeaderWritesTheChecksByRepresentationUserAndStateChange) {
  const std::string empty = "<SCRIPT LANGUAGE=javascript>\r\nfunction Validate() { \r\nreturn true;\r\n}\r\n</SCRIPT>\r\n";
  Sql("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'Comments'), (2, 'ModuleCode')");
  Sql("UPDATE IssueFields SET FieldFriendlyName = 'Customer''s </script> name' WHERE FieldName = 'ModuleCode'");
  const std::string combo =
      "if (fIssueDetail.ModuleCode.options[fIssueDetail.ModuleCode.selectedIndex].text == '') { \r\n"
      "alert('Customer\\'s \\x3C/script> name cannot be blank.'); \r\nfIssueDetail.ModuleCode.focus(); \r\n"
      "return false; \r\n} \r\n";
  const std::string summary = "if (Trim(fIssueDetail.Summary.value) == '') { \r\n";
  const std::string comments = "if (Trim(fIssueDetail.Comments.value) == '') { \r\n";
  struct Case {
    std::string user;
    int issue;
    std::string res, status;
    const char* progId;
    std::string has, hasNot;
  };
  const std::vector<Case> cases = {
      {"alice", 1, "New", "Open", "Brisquel.DataEntryForm", combo, comments},  // no change: no comment check
      {"alice", 1, "Fixed", "Open", "Brisquel.DataEntryForm", "", ""},           // no state requires fields
      {"carol", 1, "New", "Open", "Brisquel.DataEntryForm", "", ""},           // carol may not modify
      {"bob", -1, "New", "Open", "Brisquel.DetailsPrinterFriendly", "", ""},   // new: only administrators
      {"admin", -1, "New", "Open", "Brisquel.DetailsPrinterFriendly", summary, comments},
  };
  for (const auto& c : cases) {
    const std::string script = Header(c.user, c.issue, c.res, c.status, c.progId);
    if (c.has.empty()) {
      EXPECT_EQ(script, empty) << c.user << c.res;
      continue;
    }
    EXPECT_NE(script.find(c.has), std::string::npos) << c.user;
    EXPECT_EQ(script.find(c.hasNot), std::string::npos) << c.user;
  }
  // A stored code differing only in case is a change of state; the checks keep the layout order.
  Sql("UPDATE Issues SET ResolutionCode = 'NEW' WHERE IssueId = 1");
  const std::string script = Header("alice", 1, "New", "Open");
  EXPECT_LT(script.find("ModuleCode"), script.find("Summary"));
  EXPECT_LT(script.find("Summary"), script.find("Comments"));
  Sql("UPDATE IssueFields SET Representation = 'Combo' WHERE FieldName = 'ModuleCode'");
  EXPECT_EQ(Header("alice", 1, "New", "Open").find("ModuleCode"), std::string::npos);
}

TEST_F(DataEntryFormTest, HeaderForAnIssueThatIsNoneFailsUnderItsClassAndName) {
  for (const char* progId : {"Brisquel.DataEntryForm", "Brisquel.DetailsPrinterFriendly"}) {
    const auto e = testsupport::ErrorOf([&] { Header("alice", 999, "New", "Open", progId); });
    EXPECT_NE(e.source.find(std::string(progId).substr(9) + ".Header"), std::string::npos) << e.source;
  }
}

}  // namespace

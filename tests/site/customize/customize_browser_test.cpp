// The Customize pages in Chromium against a vantrel-site on the demo site: a code table and its
// values, issue fields of every kind placed on the entry form, the row budget and the project
// field refused, and a project administrator keeping his project's builds.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

class CustomizeBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> SignedIn(const std::string& user, const std::string& password = "demo") {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, user, password);
    return page;
  }
  std::vector<std::string> Rows(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Rows(sql); }
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }

  // Form values as a user leaves them: boxes by name, "on"/"" for a check box.
  static void Fill(Page& page, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values)
      page.Evaluate("(() => { const e = document.getElementsByName(" + Json(name).dump() + ")[0];"
                    " if (e.type === 'checkbox') e.checked = " + Json(value).dump() + " === 'on';"
                    " else e.value = " + Json(value).dump() + "; })()");
  }
  // Opens a page, fills its form and saves it; the path it ends on.
  std::string Save(Page& page, const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
    EXPECT_EQ(page.Navigate(site.Url(path)), 200) << path;
    Fill(page, values);
    page.ClickAndWait("#cmdSave");
    return page.Path();
  }
  static Json Eval(Page& page, const std::string& expression) { return page.Evaluate(expression); }
  static std::string Message(Page& page) {
    return page.Evaluate("document.getElementById('Message')?.innerText ?? ''").get<std::string>();
  }
  static std::string CurrentMenuItems(Page& page) {
    return page.Evaluate("[...document.querySelectorAll('#LeftMenu .CurrentMenuItem')].map(e => e.textContent.trim())"
                         ".join('|')")
        .get<std::string>();
  }

  SiteServer site;
};

TEST_F(CustomizeBrowserTest, FieldsOfEveryKindReachTheIssueFormAndTheWizardAndFollowTheirCodes) {
  auto page = SignedIn("admin", "Secret1");
  // A code table with a sort order of its own, found in the Customize group afterwards.
  EXPECT_EQ(Save(*page, "/Setup/SiteCustomCode.asp",
                 {{"TableName", "Platforms"}, {"TableFriendlyName", "Platforms"}, {"TableFriendlyNameSingular", "Platform"},
                  {"TablePurpose", "Where an issue was seen."}, {"TableFieldName", "PlatformCode"}, {"NaturalSort", "on"}}),
            "/APP/Setup/SiteCustomCodes.asp");
  EXPECT_EQ(Eval(*page, "[...document.getElementsByName('chkTable')].map(b => b.value).includes('Platforms')"), true);
  const Json menuLink = Eval(*page, "[...document.querySelectorAll('#LeftMenu a')].find(a => a.textContent.trim() === "
                                    "'Platforms')?.getAttribute('href') ?? ''");
  EXPECT_EQ(menuLink, "/APP/Setup/CustomCodes.asp?Table=Platforms");
  // Opened again, the table shows its sort column; a new plural name is stored.
  page->Navigate(site.Url("/Setup/SiteCustomCode.asp?Table=Platforms"));
  EXPECT_EQ(Eval(*page, "[document.getElementsByName('NaturalSort')[0].checked, !!document.getElementById('TableName')]"),
            Json::parse("[true, false]"));
  EXPECT_EQ(Save(*page, "/Setup/SiteCustomCode.asp?Table=Platforms", {{"TableFriendlyName", "Platforms seen"}}),
            "/APP/Setup/SiteCustomCodes.asp");
  EXPECT_EQ(Text("select TableFriendlyName || '|' || NaturalSort || '|' || TableSortByFieldName from IssueCodeTables"
                 " where TableName = 'Platforms'"),
            "Platforms seen|0|Platforms.SortOrder");
  for (const auto& [code, sort] : {std::pair{"Linux", "2"}, {"Windows", "3"}})
    EXPECT_EQ(Save(*page, "/Setup/CustomCode.asp?Table=Platforms", {{"CodeValue", code}, {"SortOrder", sort}}),
              "/APP/Setup/CustomCodes.asp");
  EXPECT_EQ(Eval(*page, "[...document.querySelectorAll('#Codes a')].map(a => a.textContent)"),
            Json::parse(R"(["<Blank>", "Linux", "Windows"])"));
  EXPECT_EQ(CurrentMenuItems(*page), "Platforms seen");

  // One field of each kind.
  const std::vector<std::vector<std::pair<std::string, std::string>>> fields{
      {{"FieldName", "CustomerRef"}, {"FieldFriendlyName", "Customer reference"}, {"FieldType", "1"},
       {"NumLines", "1"}, {"TextMaxLength", "40"}},
      {{"FieldName", "Steps"}, {"FieldFriendlyName", "Steps to reproduce"}, {"FieldType", "1"}, {"NumLines", "4"},
       {"TextMaxLength", "2000"}},
      {{"FieldName", "Investigation"}, {"FieldFriendlyName", "Investigation notes"}, {"FieldType", "1"},
       {"NumLines", "3"}, {"TextMaxLength", "1000"}, {"TextLog", "on"}},
      {{"FieldName", "Platform"}, {"FieldFriendlyName", "Platform"}, {"FieldType", "2"}, {"CustomTable", "Platforms"}},
      {{"FieldName", "Regression"}, {"FieldFriendlyName", "Regression"}, {"FieldType", "3"}}};
  for (const auto& f : fields) EXPECT_EQ(Save(*page, "/Setup/SiteCustomField.asp", f), "/APP/Setup/SiteCustomFields.asp");
  EXPECT_EQ(Rows("select FieldName, Representation, TextMaxLength, TableName from IssueFields where FieldName in"
                 " ('CustomerRef', 'Steps', 'Investigation', 'Platform', 'Regression') order by FieldName"),
            (std::vector<std::string>{"CustomerRef|text|40|", "Investigation|comments|1000|", "Platform|combo|0|Platforms",
                                      "Regression|checkbox|0|", "Steps|multiline|2000|"}));

  // Rearranged on the entry form: the new issue form follows.
  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteEntryForm.asp")), 200);
  EXPECT_EQ(Eval(*page, "[1, 2, 3, 4, 5, 6].map(r => document.getElementById('NumFields' + r).value)"),
            Json::parse(R"(["2", "1", "2", "2", "1", ""])"));
  const std::vector<std::vector<std::string>> grid{{"ProjectCode", "Platform", "Regression"},
                                                   {"Summary"},
                                                   {"CustomerRef", "PriorityCode"},
                                                   {},
                                                   {"Steps"},
                                                   {"Investigation", "Comments"}};
  std::vector<std::pair<std::string, std::string>> boxes;
  for (size_t r = 0; r < 10; ++r) {
    const std::string n = std::to_string(r + 1);
    const std::vector<std::string> row = r < grid.size() ? grid[r] : std::vector<std::string>{};
    page->Evaluate("document.getElementById('NumFields" + n + "').value = " +
                   Json(row.empty() ? std::string() : std::to_string(row.size())).dump());
    for (size_t c = 0; c < 5; ++c)
      page->Evaluate("document.getElementById('Field" + n + "_" + std::to_string(c + 1) + "').value = " +
                     Json(c < row.size() ? row[c] : std::string()).dump());
  }
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(page->Path(), "/APP/Setup/SiteEntryForm.asp");
  EXPECT_EQ(Message(*page), "");
  EXPECT_EQ(Text("select group_concat(RowNumber || ':' || FieldName, ' ') from (select * from DataEntryLayoutFields"
                 " order by RowNumber, DisplayOrder)"),
            "1:ProjectCode 1:Platform 1:Regression 2:Summary 3:CustomerRef 3:PriorityCode 4:Steps 5:Investigation "
            "5:Comments");
  ASSERT_EQ(page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New")), 200);
  const std::string names = Json(Json::array({"ProjectCode", "Platform", "Regression", "Summary", "CustomerRef",
                                              "PriorityCode", "Steps", "Investigation", "Comments", "SeverityCode",
                                              "ModuleCode", "DetectedInBuildCode"}))
                                .dump();
  EXPECT_EQ(Eval(*page, "[...document.fIssueDetail.elements].filter(e => " + names +
                            ".includes(e.name)).map(e => e.name + ':' + e.type)"),
            Json::parse(R"(["ProjectCode:select-one", "Platform:select-one", "Regression:checkbox", "Summary:textarea",
                            "CustomerRef:textarea", "PriorityCode:select-one", "Steps:textarea",
                            "Investigation:textarea", "Comments:textarea"])"));
  EXPECT_EQ(Eval(*page, "[...document.getElementById('Platform').options].map(o => o.text)"),
            Json::parse(R"(["", "Linux", "Windows"])"));
  Fill(*page, {{"Summary", "Crashes at start"}, {"CustomerRef", "ACME-7"}, {"Platform", "Linux"}, {"Regression", "on"},
               {"Investigation", "Seen twice"}});
  page->ClickAndWait("#Save");
  EXPECT_EQ(Eval(*page, "location.search"), "?IssueId=7");
  EXPECT_EQ(Rows("select CustomerRef, Platform, Regression from Issues where IssueId = 7"),
            std::vector<std::string>{"ACME-7|Linux|1"});
  EXPECT_EQ(Text("select CommentText from IssueComments where IssueId = 7 and FieldName = 'Investigation'"), "Seen twice");

  // The query wizard is handed every new field with its type (and a list field's values).
  ASSERT_EQ(page->Navigate(site.Url("/User/Filter.asp")), 200);
  const std::string wizard =
      Eval(*page, "document.querySelector('param[name=AvailableFields]').getAttribute('value')").get<std::string>();
  for (const char* entry : {"CustomerRef\r\nIssues.CustomerRef\r\nCustomer reference\r\n0\r\n",
                            "Steps\r\nIssues.Steps\r\nSteps to reproduce\r\n0\r\n",
                            "Investigation\r\nIssues.Investigation\r\nInvestigation notes\r\n5\r\n",
                            "Platform\r\nIssues.Platform\r\nPlatform\r\n4\r\n", "Linux",
                            "Regression\r\nIssues.Regression\r\nRegression\r\n1\r\n"})
    EXPECT_NE(wizard.find(entry), std::string::npos) << entry;

  // A value renamed carries its issue along; one in use stays, an unused one goes.
  page->Navigate(site.Url("/Setup/CustomCodes.asp?Table=Platforms"));
  page->ClickAndWait("#Codes a[href$='Code=Linux']");
  EXPECT_EQ(CurrentMenuItems(*page), "");  // the Customize group marks no table on a value's page
  EXPECT_EQ(Save(*page, page->Url().substr(site.Base().size()), {{"CodeValue", "GNU/Linux"}}),
            "/APP/Setup/CustomCodes.asp");
  EXPECT_EQ(Text("select Platform from Issues where IssueId = 7"), "GNU/Linux");
  EXPECT_EQ(Text("select group_concat(PlatformCode, '|') from (select * from Platforms order by SortOrder)"),
            "|GNU/Linux|Windows");
  for (const char* box : {"GNU%2FLinux", "Windows"}) page->Evaluate(std::string("document.querySelector(\"input[value='") + box + "']\").checked = true");
  page->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Message(*page),
            "The code 'GNU/Linux' is used by at least one issue and cannot be deleted. Codes can be renamed.");
  EXPECT_EQ(Text("select count(*) from Platforms"), "3");
  page->Evaluate("document.querySelector(\"input[value='Windows']\").checked = true");
  page->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Text("select group_concat(PlatformCode, '|') from Platforms"), "|GNU/Linux");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(CustomizeBrowserTest, AFieldBeyondTheRowBudgetAndAFormWithoutTheProjectAreRefusedAndNothingChanges) {
  auto page = SignedIn("admin", "Secret1");
  for (const auto& [name, size] : {std::pair{"Notes", "4000"}, {"Extra", "2000"}})
    EXPECT_EQ(Save(*page, "/Setup/SiteCustomField.asp",
                   {{"FieldName", name}, {"FieldFriendlyName", name}, {"FieldType", "1"}, {"NumLines", "5"},
                    {"TextMaxLength", size}}),
              "/APP/Setup/SiteCustomFields.asp");
  const std::string schema = "select group_concat(name, ' ') from pragma_table_info('Issues')";
  const std::string before = Text(schema);
  const std::string catalogue = "select group_concat(FieldName || ':' || TextMaxLength, ' ') from IssueFields";
  const std::string fieldsBefore = Text(catalogue);

  // Another field of 4,000 characters does not fit the 245 left.
  EXPECT_EQ(Save(*page, "/Setup/SiteCustomField.asp",
                 {{"FieldName", "Appendix"}, {"FieldFriendlyName", "Appendix"}, {"FieldType", "1"}, {"NumLines", "5"},
                  {"TextMaxLength", "4000"}}),
            "/APP/Setup/SiteCustomField.asp");
  EXPECT_EQ(Message(*page),
            "The field size, 4000, is to large to add to the issues table. There are only 245 characters available.");
  EXPECT_EQ(Eval(*page, "[document.getElementById('FieldName').value, document.getElementById('TextMaxLength').value]"),
            Json::parse(R"(["Appendix", "4000"])"));
  // Nor does growing the stored field past the budget.
  EXPECT_EQ(Save(*page, "/Setup/SiteCustomField.asp?FieldName=Extra", {{"TextMaxLength", "2300"}}),
            "/APP/Setup/SiteCustomField.asp");
  EXPECT_EQ(Message(*page), "The field size is to large for the issues table. There are only 245 characters available.");
  EXPECT_EQ(Text(schema), before);
  EXPECT_EQ(Text(catalogue), fieldsBefore);
  // Exactly the space left fits.
  EXPECT_EQ(Save(*page, "/Setup/SiteCustomField.asp?FieldName=Extra", {{"TextMaxLength", "2245"}}),
            "/APP/Setup/SiteCustomFields.asp");
  EXPECT_EQ(Text("select TextMaxLength from IssueFields where FieldName = 'Extra'"), "2245");

  // The entry form must keep the project field.
  const std::string layout = "select group_concat(RowNumber || ':' || FieldName, ' ') from DataEntryLayoutFields";
  const std::string layoutBefore = Text(layout);
  EXPECT_EQ(Save(*page, "/Setup/SiteEntryForm.asp", {{"Field", "Notes"}}), "/APP/Setup/SiteEntryForm.asp");
  EXPECT_EQ(Message(*page), "The project field must be on the data entry form.");
  EXPECT_EQ(Eval(*page, "[document.getElementById('Field1_1').value, document.getElementById('Field1_2').value]"),
            Json::parse(R"(["Notes", "ModuleCode"])"));
  EXPECT_EQ(Text(layout), layoutBefore);
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(CustomizeBrowserTest, AProjectAdministratorAddsABuildTheIssueFormOffersAndReachesNothingElse) {
  auto alice = SignedIn("alice");
  ASSERT_EQ(alice->Navigate(site.Url("/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=1")), 200);
  EXPECT_EQ(CurrentMenuItems(*alice), "Builds");
  alice->ClickAndWait("#NewRecord");
  Fill(*alice, {{"CodeValue", "2.1"}, {"SortOrder", "5"}});
  alice->ClickAndWait("#cmdSave");
  EXPECT_EQ(alice->Evaluate("location.pathname + location.search"),
            "/APP/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=1");
  EXPECT_EQ(Rows("select ProjectId, BuildCode, SortOrder from ProjectBuilds where BuildCode = '2.1'"),
            std::vector<std::string>{"1|2.1|5"});
  alice->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  EXPECT_EQ(alice->Evaluate("[...document.getElementById('DetectedInBuildCode').options].map(o => o.text)"),
            Json::parse(R"(["", "1.0", "1.1", "2.0", "2.1"])"));
  EXPECT_TRUE(alice->Exceptions().empty()) << alice->Exceptions().front();

  // The site's pages and tables are the site administrator's; another project's or a member's
  // view of the builds is nobody's.
  const std::vector<std::string> sitePages{
      "/Setup/SiteCustomFields.asp", "/Setup/SiteCustomField.asp?FieldName=Summary", "/Setup/SiteCustomCodes.asp",
      "/Setup/SiteCustomCode.asp?Table=Priorities", "/Setup/SiteEntryForm.asp", "/Setup/CustomCodes.asp?Table=Priorities",
      "/Setup/CustomCode.asp?Table=Priorities&Code=High"};
  for (const std::string& path : sitePages) EXPECT_EQ(alice->Navigate(site.Url(path)), 403) << path;
  EXPECT_EQ(alice->Navigate(site.Url("/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=2")), 403);
  auto bob = SignedIn("bob");
  EXPECT_EQ(bob->Navigate(site.Url("/Setup/CustomCodes.asp?Table=ProjectBuilds&ProjectId=1")), 403);
  auto admin = SignedIn("admin", "Secret1");
  for (const std::string& path : sitePages) EXPECT_EQ(admin->Navigate(site.Url(path)), 200) << path;
  EXPECT_EQ(CurrentMenuItems(*admin), "");
  admin->Navigate(site.Url("/Setup/CustomCodes.asp?Table=Priorities"));
  EXPECT_EQ(CurrentMenuItems(*admin), "Priorities");
  EXPECT_EQ(admin->Navigate(site.Url("/Setup/CustomCodes.asp?Table=Projects")), 404);
  EXPECT_TRUE(admin->Exceptions().empty()) << admin->Exceptions().front();
}

}  // namespace

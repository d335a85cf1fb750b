// The Customize pages refuse the names SQL and SQLite keep for themselves with the name rule's
// sentence above the refilled form, and a refusal the database reports shows no word of its own.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

class ReservedNamesBrowserTest : public ::testing::Test {
 protected:
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }
  // Opens a page, fills its boxes and saves; the path it ends on.
  std::string Save(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values) {
    EXPECT_EQ(page->Navigate(site.Url(path)), 200) << path;
    for (const auto& [name, value] : values)
      page->Evaluate("document.getElementsByName(" + Json(name).dump() + ")[0].value = " + Json(value).dump());
    page->ClickAndWait("#cmdSave");
    return page->Path();
  }
  std::string Message() { return page->Evaluate("document.getElementById('Message')?.innerText ?? ''").get<std::string>(); }
  std::string Box(const std::string& name) {
    return page->Evaluate("document.getElementsByName(" + Json(name).dump() + ")[0].value").get<std::string>();
  }

  SiteServer site;
  std::unique_ptr<Page> page = Browser::Shared().NewPage();
};

TEST_F(ReservedNamesBrowserTest, FieldsAndCodeTablesRefuseSqlsOwnNames) {
  testsupport::SignIn(*page, site, "admin", "Secret1");
  const std::string schema = Text("select group_concat(name) from sqlite_schema");
  struct Case {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
    std::string box, message;
  };
  const Case cases[] = {
      {"/Setup/SiteCustomField.asp",
       {{"FieldName", "select"}, {"FieldFriendlyName", "Chosen"}, {"FieldType", "1"}, {"NumLines", "1"},
        {"TextMaxLength", "20"}},
       "FieldName", "Field name is reserved, please choose another name."},
      {"/Setup/SiteCustomField.asp",
       {{"FieldName", "ROWID"}, {"FieldFriendlyName", "Row"}, {"FieldType", "1"}, {"NumLines", "1"},
        {"TextMaxLength", "20"}},
       "FieldName", "Field name is reserved, please choose another name."},
      {"/Setup/SiteCustomCode.asp",
       {{"TableName", "sqlite_x"}, {"TableFriendlyName", "Xs"}, {"TableFriendlyNameSingular", "X"},
        {"TableFieldName", "XCode"}},
       "TableName", "Table name is reserved, please choose another name."},
      {"/Setup/SiteCustomCode.asp",
       {{"TableName", "Areas"}, {"TableFriendlyName", "Areas"}, {"TableFriendlyNameSingular", "Area"},
        {"TableFieldName", "oid"}},
       "TableFieldName", "Field name is reserved, please choose another name."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Save(c.path, c.values), "/APP" + c.path) << c.message;
    EXPECT_EQ(Message(), c.message);
    EXPECT_EQ(Box(c.box), c.values[c.box == "TableFieldName" ? 3 : 0].second);
  }
  EXPECT_EQ(Text("select group_concat(name) from sqlite_schema"), schema);

  // Renaming the value column of a table the issues' keys refer to is refused by the database: the
  // page says an unexpected error happened, with its number, and no more.
  EXPECT_EQ(Save("/Setup/SiteCustomCode.asp?Table=Priorities", {{"TableFieldName", "Priority"}}),
            "/APP/Setup/SiteCustomCode.asp");
  EXPECT_EQ(Message().rfind("An unexpected error has occurred. (Error number: -", 0), 0u) << Message();
  EXPECT_EQ(Message().find("Error message"), std::string::npos) << Message();
  EXPECT_EQ(Text("select TableFieldName from IssueCodeTables where TableName = 'Priorities'"), "PriorityCode");
}

}  // namespace

// The dependent combo script and the option lists of UIHelpers, run in Chromium on a page the
// test writes from their outputs.
#include <gtest/gtest.h>

#include "ado/ado.h"
#include "automation/automation.h"
#include "support/browser.h"
#include "support/temp_dir.h"

namespace {

using automation::Variant;
using testsupport::Browser;
using testsupport::Json;

Variant AsObject(std::shared_ptr<automation::Object> o) { return Variant(std::move(o)); }

TEST(ComboBrowserTest, TheComboFillsItsChildBoxWithTheTextsAsTheyAre) {
  testsupport::TempDir dir;
  auto conn = std::make_shared<ado::Connection>();
  conn->Open("Data Source=" + (dir / "combo.db").string());
  conn->ExecuteNonQuery(R"(
    CREATE TABLE Parents (ParentId int, Name varchar(20));
    CREATE TABLE Children (ChildId varchar(20), ParentId int, Text varchar(50));
    INSERT INTO Parents VALUES (1, 'One'), (2, 'Two');
    INSERT INTO Children VALUES ('7', 1, 'A<b'), ('\', 1, ';document.title=''x''//');)");
  auto cmd = automation::CreateObject("ADODB.Command");
  cmd->PutRef("ActiveConnection", AsObject(conn));
  cmd->Put("CommandText", Variant("select ChildId, Text from Children where ParentId = ? order by rowid"));
  cmd->Get("Parameters").ToObject()->Call(
      "Append", {cmd->Call("CreateParameter", {Variant("ParentId"), Variant(3), Variant(1), Variant(4), Variant()})});

  auto ui = automation::CreateObject("Brisquel.UIHelpers");
  const std::string options =
      ui->Call("OptionList", {AsObject(conn->Query("select * from Parents order by ParentId")), Variant("ParentId"),
                              Variant("Name"), Variant("2")})
          .ToString();
  const std::string script = ui->Call("DependantCombo", {Variant("FillChild"),
                                                         AsObject(conn->Query("select * from Parents order by ParentId")),
                                                         cmd, Variant("ParentId"), Variant("ChildId"), Variant("Text")})
                                 .ToString();
  auto page = Browser::Shared().NewPage();
  page->Show("<html><head><title>combo</title></head><body>" + script +
             "<select id=parent onchange=\"FillChild(this.value, document.getElementById('child'))\">" + options +
             "</select><select id=child></select></body></html>");
  EXPECT_EQ(page->Evaluate("document.getElementById('parent').value"), "2");

  const std::string choose = "(() => { const p = document.getElementById('parent'); p.value = '%'; "
                             "p.dispatchEvent(new Event('change')); "
                             "return [...document.getElementById('child').options].map(o => [o.value, o.text]); })()";
  auto chosen = [&](const std::string& id) {
    std::string expr = choose;
    expr.replace(expr.find('%'), 1, id);
    return page->Evaluate(expr);
  };
  EXPECT_EQ(chosen("1"), Json::parse(R"([["7", "A<b"], ["\\", ";document.title='x'//"]])"));
  EXPECT_EQ(chosen("2"), Json::array());
  EXPECT_EQ(page->Evaluate("document.title"), "combo");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace

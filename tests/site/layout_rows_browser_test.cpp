// The layout editor's rows (Brisquel.LayoutForm) with the site script's FieldSelect, in Chromium.
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "core/database.h"
#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using automation::Variant;
using testsupport::Browser;
using testsupport::Json;
using ObjectPtr = std::shared_ptr<automation::Object>;

TEST(LayoutRowsBrowserTest, AChosenFieldOpensTheNextBoxOfItsRow) {
  testsupport::SiteServer site;
  auto db = sitedb::Open(site.DatabaseFile());
  ObjectPtr fields = db->Read(
      "select FieldName, FieldFriendlyName from IssueFields where FieldName in ('IssueId', 'PriorityCode', 'Summary')"
      " order by FieldName");
  const std::string rows =
      automation::CreateObject("Brisquel.LayoutForm")
          ->Call("Details", {Variant("bob"), Variant(std::static_pointer_cast<automation::Object>(db)),
                             Variant(automation::CreateObject("Brisquel.UIHelpers")), Variant(ObjectPtr()),
                             Variant(fields), Variant(ObjectPtr()), Variant(false)})
          .ToString();
  auto page = Browser::Shared().NewPage();
  page->Navigate(site.Url("/Default.asp"));  // any page of the site brings its script
  page->Evaluate("document.body.insertAdjacentHTML('beforeend', '<table>' + " + Json(rows).dump() + " + '</table>')");
  const std::string shown = "[0, 1, 2].map(c => document.getElementById('r0f' + c).style.display)";
  EXPECT_EQ(page->Evaluate(shown), Json::parse(R"(["", "none", "none"])"));
  page->Evaluate("(() => { const b = document.getElementById('r0f0'); b.value = 'Summary';"
                 " b.dispatchEvent(new Event('change')); })()");
  EXPECT_EQ(page->Evaluate(shown), Json::parse(R"(["", "", "none"])"));
  // Another row is left as it was.
  EXPECT_EQ(page->Evaluate("document.getElementById('r1f1').style.display"), "none");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace

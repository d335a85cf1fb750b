// The bottom-left blocks of the menu on the five pages that have one, on the demo site.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "core/database.h"
#include "support/site_db.h"

namespace {

using automation::Variant;
using ObjectPtr = std::shared_ptr<automation::Object>;

const std::string kFrameStart =
    "<table style='z-index:-1; position:absolute; bottom:0;' height=100% width=100% cellpadding=0 cellspacing=0 "
    "border=0 bgcolor='#000000'><tr valign=bottom><td valign=bottom class=menuitem style='color:#FFFFFF; border-top: "
    "1px solid #FFFFFF;'>";
const std::string kFrameEnd = "</td></tr></table>";
const std::string kControls =
    "<table cellpadding=0 cellspacing=0 border=0 bgcolor='#000000'><tr><td style='width:3px'><div></div></td><td "
    "colspan=2 class=menuitem style=\"background-image: url('/app/images/CaptureCtl.png'); border-bottom: \"><object "
    "CLASSID = 'clsid:141B3DC5-CE92-4C86-80EF-BB058AAD3684' ID = 'CaptureCtl' width='120px' height='65px' "
    "style='z-index: 0'></object><OBJECT style='z-index:1;' CLASSID='clsid:B849DFE1-FADB-4C9E-B0F9-D3DAC3438F48' "
    "id=Keyboard1 VIEWASTEXT > </object></td></tr></table>";

std::string Link(const std::string& href, const std::string& text, const std::string& target = "") {
  return "<tr><td class=menuitem style='color:#FFFFFF;'><a class=MenuItem " +
         (target.empty() ? std::string() : "target='" + target + "' ") + "href='" + href + "'>" + text +
         "</a></td></tr>";
}
std::string LinkList(const std::string& links) {
  return "<table cellpadding=3 cellspacing=0 border=0 bgcolor='#000000'>" + links +
         "<tr><td class=menuitem style='color:#FFFFFF;'><img height=1px width=0px></td></tr></table>";
}

class MenuBlocksTest : public ::testing::Test {
 protected:
  // The block of a page: what stands between the left menu's division and its own table.
  std::string Block(const std::string& page, std::vector<std::pair<std::string, std::string>> props = {}) {
    ObjectPtr m = automation::CreateObject("Brisquel.MenuSystem");
    m->Put("MetaDataPath", Variant("/LM/W3SVC/1/Root/app"));
    m->Put("InstanceMetaDataPath", Variant("/LM/W3SVC/1"));
    m->Put("HttpHost", Variant("h"));
    m->Put("RequestURL", Variant("http://h/app" + page));
    for (auto& [name, value] : props) m->Put(name, Variant(value));
    const std::string html =
        m->Call("Menu", {Variant(std::static_pointer_cast<automation::Object>(db)), Variant("bob"), Variant(1)})
            .ToString();
    const size_t from = html.find("'>") + 2;
    return html.substr(from, html.find("<table style='z-index:1;") - from);
  }

  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<brisquel::Database> db = sitedb::Open(file);
};

TEST_F(MenuBlocksTest, TheIssuePageHoldsTheTwoControlsAndAPrinterLinkWhenGivenOne) {
  EXPECT_EQ(Block("/Issues/Issue.asp"), kFrameStart + kControls + kFrameEnd);
  EXPECT_EQ(Block("/Issues/Issue.asp", {{"IssuePrinterFriendlyUrl", "/Issues/IssuePrinterFriendly.asp?IssueId=3&a='"}}),
            kFrameStart + kControls +
                "<table width=100% cellpadding=0 cellspacing=0 border=0 bgcolor='#000000'><tr><td "
                "style='width:5px;'><div></div></td><td style='height:8px;'><div></div></td></tr><tr><td></td><td "
                "bgcolor=#000000 style='height:2px'><div></div></td></tr><tr><td></td><td bgcolor=#6294cd "
                "style='height:0px'><div></div></td></tr><tr><td></td><td style='height:4px'><div></div></td></tr>"
                "<tr><td></td><td nowrap class=menuitem style='color:#FFFFFF;'><a class=MenuItem "
                "href='/Issues/IssuePrinterFriendly.asp?IssueId=3&amp;a=&#39;' target='_blank'>Printer "
                "friendly...</a></td></tr><tr><td></td><td class=menuitem style='color:#FFFFFF; "
                "height:10px;'><div></div></td></tr></table>" +
                kFrameEnd);
}

TEST_F(MenuBlocksTest, TheListPagesLinkTheirSettingsDownloadAndPrinterPages) {
  EXPECT_EQ(Block("/Assignments/MyAssignments.asp", {{"IssuesDownloadUrl", "/Assignments/MyAssignmentsDownload.asp"},
                                                     {"IssuesPrinterFriendlyUrl", "MyAssignmentsPrinterFriendly.asp"}}),
            kFrameStart +
                LinkList(Link("/app/User/Personalize.asp", "Settings...") +
                         Link("/app/Assignments/MyAssignmentsDownload.asp", "Download...") +
                         Link("MyAssignmentsPrinterFriendly.asp", "Printer friendly...", "_blank")) +
                kFrameEnd);
  EXPECT_EQ(Block("/Search/Search.asp", {{"SearchPrinterFriendlyUrl", "/Search/SearchPrinterFriendly.asp?q=1&r=2"}}),
            kFrameStart +
                LinkList(Link("/app/User/PersonalizeSearch.asp", "Settings...") + Link("", "Download...") +
                         Link("/app/Search/SearchPrinterFriendly.asp?q=1&amp;r=2", "Printer friendly...", "_blank")) +
                kFrameEnd);
}

TEST_F(MenuBlocksTest, TheDailySummaryPrinterLinkCarriesThePageQueryAsAnAttribute) {
  EXPECT_EQ(Block("/Reports/DailySummary.asp"),
            kFrameStart +
                LinkList(Link("/app/Reports/DailySummaryPrinterFriendly.asp?", "Printer friendly...", "_blank")) +
                kFrameEnd);
  EXPECT_EQ(
      Block("/Reports/DailySummary.asp", {{"RequestQueryString", "Date=1/2/2026&x='><b>"}}),
      kFrameStart +
          LinkList(Link("/app/Reports/DailySummaryPrinterFriendly.asp?Date=1/2/2026&amp;x=&#39;&gt;&lt;b&gt;",
                        "Printer friendly...", "_blank")) +
          kFrameEnd);
}

TEST_F(MenuBlocksTest, TheReleaseNotesBlockNeedsBothBuildFields) {
  const std::vector<std::pair<std::string, std::string>> urls = {
      {"ReleaseNotesDownloadAddressedUrl", "/Reports/ReleaseNotesDownload.asp?Kind=fixed"},
      {"ReleaseNotesDownloadKnownUrl", "/Reports/ReleaseNotesDownload.asp?Kind=known"},
      {"ReleaseNotesPrinterUrl", "/Reports/ReleaseNotesPrinterFriendly.asp"}};
  EXPECT_EQ(Block("/Reports/ReleaseNotes.asp", urls),
            kFrameStart +
                "<table cellpadding=3 cellspacing=0 border=0 bgcolor='#000000'><tr><td nowrap class=menuitem "
                "style='color:#FFFFFF;'><a class=MenuItem href='/Reports/ReleaseNotesDownload.asp?Kind=fixed'>Download "
                "fixed...</a></td></tr><tr><td class=menuitem style='color:#FFFFFF;'><a class=MenuItem "
                "href='/Reports/ReleaseNotesDownload.asp?Kind=known'>Download known...</a></td></tr><tr><td "
                "class=menuitem style='color:#FFFFFF;'><a class=MenuItem target='_blank' "
                "href='/Reports/ReleaseNotesPrinterFriendly.asp'>Printer friendly...</a></td></tr><tr><td "
                "class=menuitem style='color:#FFFFFF;'><img height=1px></td></tr></table>" +
                kFrameEnd);
  sitedb::Db raw(file);
  raw.Exec("PRAGMA foreign_keys=OFF; DELETE FROM IssueFields WHERE FieldName = 'VerifiedInBuildCode';");
  EXPECT_EQ(Block("/Reports/ReleaseNotes.asp", urls), kFrameStart + kFrameEnd);
}

TEST_F(MenuBlocksTest, OtherPagesGetNoBlock) {
  for (const char* page : {"/Default.asp", "/Issues/issue.asp", "/Reports/DailySummaryPrinterFriendly.asp", ""})
    EXPECT_EQ(Block(page), "") << page;
}

}  // namespace

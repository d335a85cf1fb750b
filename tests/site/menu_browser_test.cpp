// The menu of every signed-in page, in Chromium against a vantrel-site on the demo site.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

// The texts of the left menu's entries and group titles, in page order.
constexpr const char* kEntries =
    "[...document.querySelectorAll('#LeftMenu td.MenuItem, #LeftMenu td.CurrentMenuItem')]"
    ".map(td => td.innerText.trim())";
constexpr const char* kCurrent = "[...document.querySelectorAll('#LeftMenu td.CurrentMenuItem')].map(td => td.innerText.trim())";
// Every link of the menu but the sign-out, with the status it answers when it is not 200.
constexpr const char* kBadLinks =
    "(async () => { const bad = []; let n = 0;"
    " for (const a of document.querySelectorAll('#LeftMenu a, #TopMenu a')) {"
    "  const h = a.getAttribute('href'); if (h.startsWith('javascript:') || h.endsWith('/Logout.asp')) continue;"
    "  n++; const r = await fetch(a.href, {credentials: 'same-origin'});"
    "  if (r.status != 200) bad.push(h + ' ' + r.status); }"
    " return n > 5 ? bad : ['only ' + n + ' links']; })()";

class MenuBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> SignedIn(const std::string& user, const std::string& password) {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, user, password);
    return page;
  }
  SiteServer site;
};

TEST_F(MenuBrowserTest, EachUserSeesTheEntriesOfHisRightsAndEveryLinkAnswers) {
  const std::vector<std::string> reports{"Reports", "Daily Summary", "Release Notes", "Summary Trends",
                                         "Issue Distribution"};
  auto with = [&](std::vector<std::string> admin, bool reporting) {
    std::vector<std::string> all{"Issues", "My Issues", "Search"};
    if (reporting) all.insert(all.end(), reports.begin(), reports.end());
    all.insert(all.end(), {"Administration", "My Info"});
    all.insert(all.end(), admin.begin(), admin.end());
    return Json(all);
  };
  struct Case {
    std::string user, password;
    Json entries;
  };
  const Case cases[] = {
      {"admin", "Secret1", with({"Users", "Projects", "Customize", "System"}, true)},
      {"alice", "demo", with({"Workflow", "Projects"}, true)},
      {"bob", "demo", with({"Workflow"}, true)},
      {"dave", "demo", with({"Workflow"}, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    auto page = SignedIn(c.user, c.password);
    EXPECT_EQ(page->Navigate(site.Url("/User/MyInfo.asp")), 200);
    EXPECT_EQ(page->Evaluate(kEntries), c.entries);
    EXPECT_EQ(page->Evaluate(kCurrent), Json::array({"My Info"}));
    EXPECT_EQ(page->Evaluate("document.querySelector('#PageContent .PageTitle').innerText"), "My Info");
    EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#TopMenu a')].pop().innerText"), "Logoff " + c.user);
    EXPECT_EQ(page->Evaluate(kBadLinks), Json::array());
    EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  }
}

TEST_F(MenuBrowserTest, TheLinksOfEveryBlockAnswer) {
  auto page = SignedIn("alice", "demo");
  struct Case {
    std::string path;
    size_t blockLinks;
  };
  const Case cases[] = {{"/Assignments/MyAssignments.asp", 3},
                        {"/Search/Search.asp", 3},
                        {"/Reports/ReleaseNotes.asp", 3},
                        {"/Reports/DailySummary.asp", 1},
                        {"/Issues/Issue.asp?IssueId=1", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    page->Navigate(site.Url(c.path));
    EXPECT_EQ(page->Evaluate("document.querySelectorAll('#LeftMenu td[valign=bottom] a').length"), c.blockLinks);
    EXPECT_EQ(page->Evaluate(kBadLinks), Json::array());
    EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  }
}

TEST_F(MenuBrowserTest, TheMenuStandsBlackOnTheLeftWithItsBlockAtTheBottom) {
  auto page = SignedIn("alice", "demo");
  EXPECT_EQ(page->Navigate(site.Url("/Issues/Issue.asp?IssueId=1")), 200);
  EXPECT_EQ(page->Evaluate("document.body.firstElementChild.id"), "LeftMenu");
  EXPECT_EQ(page->Evaluate("(() => { const s = getComputedStyle(document.getElementById('LeftMenu'));"
                           " return [s.position, s.backgroundColor]; })()"),
            Json::parse(R"j(["absolute", "rgb(0, 0, 0)"])j"));
  // As high as the window, and the controls' tags do not widen it.
  EXPECT_EQ(page->Evaluate("(() => { const m = document.getElementById('LeftMenu');"
                           " return [m.offsetHeight == window.innerHeight, m.offsetWidth, m.scrollWidth]; })()"),
            Json::parse("[true, 130, 130]"));
  // The entries' table, 38px down, above the block frame, which fills the column to its foot.
  EXPECT_EQ(page->Evaluate("(() => { const t = [...document.querySelectorAll('#LeftMenu > table')];"
                           " const s = t.map(e => getComputedStyle(e));"
                           " return [s[1].top, s[1].zIndex, s[0].zIndex, s[0].position,"
                           " t[0].getBoundingClientRect().bottom == window.innerHeight]; })()"),
            Json::parse(R"(["38px", "1", "-1", "absolute", true])"));
  EXPECT_EQ(page->Evaluate("getComputedStyle(document.querySelector('#LeftMenu td.menuitem')).borderTopWidth"), "1px");
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#LeftMenu a[target]')].map(a => "
                           "[a.innerText, a.getAttribute('href'), a.target])"),
            Json::parse(R"([["Printer friendly...", "/APP/Issues/IssuePrinterFriendly.asp?IssueId=1", "_blank"]])"));
  // The block is in front of the column's black, its link reachable; entries are white on black.
  EXPECT_EQ(page->Evaluate("(() => { const a = document.querySelector('#LeftMenu a[target]');"
                           " const r = a.getBoundingClientRect();"
                           " return a.contains(document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2)); })()"),
            true);
  EXPECT_EQ(page->Evaluate("(() => { const a = [...document.querySelectorAll('#LeftMenu a')].find(a => "
                           "a.innerText.trim() == 'Search');"
                           " return [getComputedStyle(a).color, getComputedStyle(a.parentElement).backgroundColor]; })()"),
            Json::parse(R"j(["rgb(255, 255, 255)", "rgb(0, 0, 0)"])j"));
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#LeftMenu object')].map(o => o.id)"),
            Json::parse(R"(["CaptureCtl", "Keyboard1"])"));
  // The two rows that close the entries are 2px and 1px high (an empty cell would be 0px).
  EXPECT_EQ(page->Evaluate("[...document.querySelector('#LeftMenu > table:last-of-type').rows].slice(-2)"
                           ".map(r => getComputedStyle(r.cells[1]).height)"),
            Json::parse(R"(["2px", "1px"])"));
  // The block cell is white by its own declaration: without the class it would be the table's black.
  EXPECT_EQ(page->Evaluate("(() => { const td = document.querySelector('#LeftMenu td[valign=bottom]');"
                           " td.removeAttribute('class'); return getComputedStyle(td).color; })()"),
            "rgb(255, 255, 255)");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();

  // A new issue has no printer page yet: the block holds the two controls only.
  EXPECT_EQ(page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New")), 200);
  EXPECT_EQ(page->Evaluate("[document.querySelectorAll('#LeftMenu a[target]').length,"
                           " document.querySelectorAll('#LeftMenu object').length]"),
            Json::parse("[0, 2]"));
}

TEST_F(MenuBrowserTest, DatabaseTextsAndTheQueryStayText) {
  sitedb::Db(site.DatabaseFile()).Exec("UPDATE IssueCodeTables SET TableFriendlyName = '<i>x' WHERE TableName = 'Priorities'");
  auto page = SignedIn("admin", "Secret1");
  // The browser sends "&", ";" and the rest of this query as they are.
  const std::string query = "x=&quot;);document.title=1;//";
  EXPECT_EQ(page->Navigate(site.Url("/Setup/SiteEntryForm.asp?" + query)), 200);
  EXPECT_EQ(page->Evaluate("location.search"), "?" + query);
  const Json entries = page->Evaluate(kEntries);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "<i>x"), entries.end()) << entries.dump();
  EXPECT_EQ(page->Evaluate("document.querySelectorAll('#LeftMenu i').length"), 0);
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#LeftMenu a')].find(a => a.innerText.trim() == '<i>x')"
                           ".getAttribute('href')"),
            "/APP/Setup/CustomCodes.asp?Table=Priorities");
  // The Help link opens one window on the page's help with the query, and runs nothing of it.
  const std::string title = page->Evaluate("document.title");
  page->Evaluate("window.opened = []; window.open = (url) => { window.opened.push(url); return null; }");
  page->Click("#TopMenu a[onclick]");
  EXPECT_EQ(page->Evaluate("window.opened"),
            Json::array({"/APP/Help/Setup/SiteEntryForm.asp?" + query}));
  EXPECT_EQ(page->Evaluate("document.title"), title);
  EXPECT_EQ(page->Path(), "/APP/Setup/SiteEntryForm.asp");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

}  // namespace

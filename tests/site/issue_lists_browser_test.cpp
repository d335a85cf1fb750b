// The issue list pages (my issues, search, release notes), their printer pages and downloads, in
// Chromium against a vantrel-site on the demo site.
#include <gtest/gtest.h>

#include <algorithm>

#include "automation/automation.h"
#include "configuration/issue_form.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

constexpr const char* kBoxes = "[...document.getElementsByName('chkIssue')].map(b => b.value)";

class IssueListsBrowserTest : public ::testing::Test {
 protected:
  void Exec(const std::string& sql) { sitedb::Db(site.DatabaseFile()).Exec(sql); }
  Json Boxes() { return page->Evaluate(kBoxes); }
  std::string Eval(const std::string& expression) { return page->Evaluate(expression).get<std::string>(); }
  // The text of the heading link that sorts by `key`.
  std::string Heading(const std::string& key) {
    return Eval("document.querySelector(\"a.formlabels[href*='OrderBy=" + key + "&']\").textContent");
  }
  void ExpectNoScriptError() {
    const auto errors = page->Exceptions();
    EXPECT_TRUE(errors.empty()) << errors.front();
  }

  SiteServer site;
  std::unique_ptr<Page> page = Browser::Shared().NewPage();
};

TEST_F(IssueListsBrowserTest, AliceSortsPagesAndReassignsTwoIssues) {
  Exec("UPDATE Users SET MyAssignmentNumIssues = 2 WHERE UserId = 'alice';"
       "INSERT INTO SummaryLayoutFields VALUES ('alice', 'Default', 1, 9, 'Summary')");
  testsupport::SignIn(*page, site, "alice", "demo");
  EXPECT_EQ(Eval("document.title"), "My Issues");
  EXPECT_EQ(Boxes(), Json::parse(R"(["1"])"));  // her default filter: her own open issues
  EXPECT_EQ(Eval("document.getElementById('Filter').selectedOptions[0].text"), "Assigned to me");

  // A saved filter, chosen in the filter box.
  page->Evaluate("Filter.value = 'u:Urgent issues'");
  page->ClickAndWait("#Show");
  EXPECT_EQ(Eval("location.search"), "?Filter=u%3AUrgent+issues&ProjectId=-1&Layout=Default");
  EXPECT_EQ(Boxes(), Json::parse(R"(["2"])"));
  EXPECT_EQ(Eval("document.getElementById('Filter').selectedOptions[0].text"), "Urgent issues");
  // The filter box's option text is the filter.
  page->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=All+issues"));
  EXPECT_EQ(Boxes(), Json::parse(R"(["1", "2"])"));
  EXPECT_EQ(Heading("Issues.IssueId"), "Issue number\u00a0\u25BC\u00a0\u00a0");
  EXPECT_EQ(Eval("[...document.querySelectorAll('#PageLinks a')].map(a => a.textContent).join()"), "2,3");
  page->ClickAndWait("#PageLinks a:last-child");
  EXPECT_EQ(Boxes(), Json::parse(R"(["5", "6"])"));
  EXPECT_EQ(Eval("document.querySelector('#PageLinks b').textContent"), "3");

  // A heading sorts ascending, a second click descending; both keep the filter.
  page->ClickAndWait("a.formlabels[href*='OrderBy=Issues.Summary&']");
  EXPECT_EQ(Heading("Issues.Summary"), "Summary\u00a0\u25BC\u00a0\u00a0");
  EXPECT_EQ(Boxes(), Json::parse(R"(["6", "4"])"));
  page->ClickAndWait("a.formlabels[href*='OrderBy=Issues.Summary&']");
  EXPECT_EQ(Heading("Issues.Summary"), "Summary\u00a0\u25B2\u00a0\u00a0");
  EXPECT_EQ(Boxes(), Json::parse(R"(["3", "1"])"));
  EXPECT_EQ(Heading("Issues.IssueId"), "Issue number\u00a0");

  // A stored size larger than any page shows one page.
  Exec("UPDATE Users SET MyAssignmentNumIssues = 40000 WHERE UserId = 'alice'");
  EXPECT_EQ(page->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=s:allopen")), 200);
  EXPECT_EQ(Boxes(), Json::parse(R"(["1", "2", "5"])"));
  EXPECT_EQ(Eval("String(document.getElementById('cmdReassign').disabled)"), "true");
  page->Click("input[name=chkIssue][value='1']");
  page->Click("input[name=chkIssue][value='5']");
  EXPECT_EQ(Eval("String(document.getElementById('cmdReassign').disabled)"), "false");
  // Only the codes of states an issue can move to: not the issue-create state's blank pair.
  EXPECT_EQ(page->Evaluate("[cmbResolution, cmbStatus].map(b => [...b.options].map(o => o.value))"),
            Json::parse(R"([["New", "Fixed", "Will not fix", "Duplicate", "Not reproducible"], ["Open", "Closed"]])"));
  page->Evaluate("cmbResolution.value = 'Fixed', cmbStatus.value = 'Open', cmbAssignedTo.value = 'carol'");
  page->ClickAndWait("#cmdReassign");
  EXPECT_EQ(Eval("location.search"), "?Filter=s%3Aallopen&ProjectId=-1&Layout=Default&OrderBy=Issues.IssueId&"
                                     "OrderSeq=0&PageNum=1");
  EXPECT_EQ(Eval("String(document.getElementById('ReassignError'))"), "null");
  sitedb::Db raw(site.DatabaseFile());
  EXPECT_EQ(raw.Rows("SELECT IssueId, ResolutionCode, StatusCode, AssignedToUser FROM Issues WHERE IssueId IN (1, 5)"),
            (std::vector<std::string>{"1|Fixed|Open|carol", "5|Fixed|Open|carol"}));
  EXPECT_EQ(raw.Rows("SELECT IssueId, UserId, NewResolutionCode, NewStatusCode, NewAssignedToUser FROM IssueHistory "
                     "WHERE IssueId IN (1, 5) AND NewResolutionCode = 'Fixed' ORDER BY IssueId"),
            (std::vector<std::string>{"1|alice|Fixed|Open|carol", "5|alice|Fixed|Open|carol"}));
  ExpectNoScriptError();
}

TEST_F(IssueListsBrowserTest, CarolsBoxesAreDisabledWhereSheMayNotModifyAndARefusalIsShown) {
  testsupport::SignIn(*page, site, "carol", "demo");
  // A condition from the query is no filter of the page: she gets her own open issues.
  page->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=x:1%3D1"));
  EXPECT_EQ(Boxes(), Json::parse(R"(["2"])"));
  page->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=s:all"));
  EXPECT_EQ(page->Evaluate("[...document.getElementsByName('chkIssue')].map(b => b.value + ':' + b.disabled)"),
            Json::parse(R"(["1:true", "2:false", "3:false", "4:true", "5:true", "6:true"])"));
  // Issue 3 is closed: the workflow has no way from it to Fixed/Open.
  page->Click("input[name=chkIssue][value='3']");
  page->Evaluate("cmbResolution.value = 'Fixed', cmbStatus.value = 'Open', cmbAssignedTo.value = 'alice'");
  page->ClickAndWait("#cmdReassign");
  EXPECT_EQ(Eval("document.getElementById('ReassignError').innerText"),
            "Issue #3 cannot be changed to a resolution of 'Fixed' and status of 'Open' (the workflow configuration "
            "does not allow that transition).");
  EXPECT_EQ(Boxes().size(), 6u);
  // A click beside the number in its cell opens the issue.
  page->Evaluate("document.querySelector('input[name=chkIssue][value=\"2\"]').closest('table')"
                 ".querySelector('td[onclick]').id = 'Issue2'");
  page->ClickAndWait("#Issue2");
  EXPECT_EQ(Eval("location.pathname + location.search"),
            "/APP/Issues/Issue.asp?IssueId=2&NavSource=MyAssignments&ProjectId=-1&OrderBy=Issues.IssueId&OrderSeq=0&"
            "Filter=s%3Aall");
  ExpectNoScriptError();
}

TEST_F(IssueListsBrowserTest, SearchFindsByWordsAndByNumberAndTheListsShowARefusedOrder) {
  testsupport::SignIn(*page, site, "alice", "demo");
  page->Navigate(site.Url("/Search/Search.asp"));
  EXPECT_EQ(page->Evaluate("document.querySelectorAll('a.box').length"), 0);
  page->Type("#Words", "login");
  page->ClickAndWait("#Search");
  EXPECT_EQ(Eval("location.search"), "?Words=login&IssueNumber=&ProjectId=-1&Layout=Default");
  EXPECT_EQ(Eval("[...document.querySelectorAll('a.box')].map(a => a.textContent).join()"), "1");
  EXPECT_EQ(Eval("document.querySelector('a.box').getAttribute('href')"),
            "/APP/Issues/Issue.asp?IssueId=1&NavSource=Search&ProjectId=-1&OrderBy=Issues.IssueId&OrderSeq=0&"
            "Words=login&IssueNumber=");
  // Closed issues too: "page" is in issue 6's summary and in issue 4's comment.
  page->Navigate(site.Url("/Search/Search.asp?Words=page&IncludeClosed=1"));
  EXPECT_EQ(Eval("[...document.querySelectorAll('a.box')].map(a => a.textContent).join()"), "1,2,4,6");
  page->Navigate(site.Url("/Search/Search.asp?Words=page"));
  EXPECT_EQ(Eval("[...document.querySelectorAll('a.box')].map(a => a.textContent).join()"), "1,2");
  page->Navigate(site.Url("/Search/Search.asp?IssueNumber=3"));
  EXPECT_EQ(Eval("[...document.querySelectorAll('a.box')].map(a => a.textContent).join()"), "3");
  page->Navigate(site.Url("/Search/Search.asp?IssueNumber=3x"));
  EXPECT_EQ(Eval("document.getElementById('ListError').innerText"), "The issue number must be a whole number.");
  for (const char* path : {"/Search/Search.asp?Words=login&OrderBy=Nonsense",
                           "/Assignments/MyAssignments.asp?Filter=s:all&OrderBy=Nonsense"}) {
    EXPECT_EQ(page->Navigate(site.Url(path)), 200) << path;
    EXPECT_EQ(Eval("document.getElementById('ListError').innerText"), "Invalid sort order (unknown name 'Nonsense').")
        << path;
  }
  ExpectNoScriptError();
}

TEST_F(IssueListsBrowserTest, EachReleaseNotesListTurnsItsOwnPages) {
  // Known in 2.0: issues 1, 2 and 5; corrected since 1.1: issues 3 and 4; one issue a page.
  Exec("UPDATE Users SET ReleaseNotesNumIssues = 1 WHERE UserId = 'alice';"
       "UPDATE Issues SET VerifiedInBuildCode = '2.0' WHERE IssueId IN (3, 4)");
  testsupport::SignIn(*page, site, "alice", "demo");
  const std::string shown = "[...document.querySelectorAll('a.box')].map(a => a.textContent).join()";
  const std::string links = "['k', 'c'].map(p => [...document.querySelectorAll('#' + p + 'PageLinks a, #' + p +"
                            " 'PageLinks b')].map(e => e.tagName + e.textContent).join())";
  EXPECT_EQ(page->Navigate(site.Url("/Reports/ReleaseNotes.asp?ProjectId=1")), 200);
  EXPECT_EQ(Eval(shown), "1,3");
  EXPECT_EQ(page->Evaluate(links), Json::parse(R"(["B1,A2,A3", "B1,A2"])"));
  page->ClickAndWait("#kPageLinks a:last-child");
  EXPECT_EQ(Eval(shown), "5,3");
  page->ClickAndWait("#cPageLinks a");
  EXPECT_EQ(Eval(shown), "5,4");
  EXPECT_EQ(page->Evaluate(links), Json::parse(R"(["A1,A2,B3", "A1,B2"])"));
  ExpectNoScriptError();
}

// Markup stored in the values a list shows.
class PayloadBrowserTest : public IssueListsBrowserTest {
 protected:
  static constexpr const char* kPayload = "<img src=x onerror=\"window.x=1\">&amp;\"'";
  void SetUp() override {
    auto db = sitedb::Open(site.DatabaseFile());
    auto form = std::make_shared<brisquel::MultipartFormData>();
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"FieldName", "Notes"}, {"FieldFriendlyName", "Notes"}, {"TooltipForFilter", "Notes."},
             {"TableName", ""}, {"FieldType", "1"}, {"NumLines", "1"}, {"TextMaxLength", "100"}, {"TextLog", ""},
             {"CustomTable", ""}})
      form->Fields()->Add(name, value);
    ASSERT_TRUE(brisquel::CreateCustomField(*db, "admin", form)) << db->LastErrorMessage();
    const std::string p = "'<img src=x onerror=\"window.x=1\">&amp;\"'''";
    Exec("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, " + p + ");"
         "UPDATE Issues SET Summary = " + p + " || ' login', Notes = " + p + ", ModuleCode = " + p +
         " WHERE IssueId = 1;"
         "DELETE FROM IssueComments WHERE IssueId = 1;"
         "INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) VALUES "
         "(1, 'Comments', 'carol', " + p + ", '2026-01-02 10:00:00.000');"
         "DELETE FROM SummaryLayoutFields WHERE UserId = 'alice' AND LayoutName = 'Default';"
         "UPDATE SummaryLayouts SET NumRows = 3 WHERE UserId = 'alice' AND LayoutName = 'Default';"
         "INSERT INTO SummaryLayoutFields VALUES ('alice', 'Default', 1, 1, 'IssueId'), "
         "('alice', 'Default', 1, 2, 'Notes'), ('alice', 'Default', 1, 3, 'ModuleCode'), "
         "('alice', 'Default', 2, 1, 'Summary'), ('alice', 'Default', 2, 2, 'Notes'), "
         "('alice', 'Default', 3, 1, 'Comments')");
    testsupport::SignIn(*page, site, "alice", "demo");
  }
  // How often the payload shows as text on the page, with the checks that it ran nowhere.
  int Shown(const std::string& path) {
    EXPECT_EQ(page->Navigate(site.Url(path)), 200) << path;
    EXPECT_EQ(Eval("typeof window.x"), "undefined") << path;
    EXPECT_EQ(page->Evaluate("document.querySelectorAll('img[src=x]').length"), 0) << path;
    return page->Evaluate("document.body.innerText.split(" + Json(kPayload).dump() + ").length - 1").get<int>();
  }
  // The download as the browser gets it: type, disposition and how often the payload is in it.
  std::string Download(const std::string& path) {
    return Eval("fetch(" + Json(site.Url(path)).dump() +
                ").then(async r => r.headers.get('content-type') + '|' + r.headers.get('content-disposition') + '|' + "
                "((await r.text()).split('<img src=x onerror=\"\"window.x=1\"\">&amp;\"\"\\'').length - 1))");
  }
};

TEST_F(PayloadBrowserTest, EveryListShowsStoredMarkupAsText) {
  // Main row: the number, Notes and the module; sub-rows: Summary and Notes; the comment.
  EXPECT_EQ(Shown("/Assignments/MyAssignments.asp"), 5);
  EXPECT_EQ(Shown("/Assignments/MyAssignmentsPrinterFriendly.asp"), 5);
  EXPECT_EQ(Shown("/Search/Search.asp?Words=login"), 5);
  EXPECT_EQ(Shown("/Search/SearchPrinterFriendly.asp?Words=login"), 5);
  // Issue 1 is a known issue of build 2.0.
  EXPECT_EQ(Shown("/Reports/ReleaseNotes.asp?ProjectId=1"), 5);
  EXPECT_EQ(Eval("document.getElementById('Build').value + '|' + document.getElementById('PrevBuild').value"),
            "2.0|1.1");
  EXPECT_EQ(Shown("/Reports/ReleaseNotesPrinterFriendly.asp?ProjectId=1"), 5);
  const std::string csv = "text/csv; charset=utf-8|attachment; filename=\"issues.csv\"|";
  EXPECT_EQ(Download("/Assignments/MyAssignmentsDownload.asp"), csv + "5");
  EXPECT_EQ(Download("/Search/SearchDownload.asp?Words=login"), csv + "5");
  EXPECT_EQ(Download("/Reports/ReleaseNotesDownload.asp?ProjectId=1&Kind=known"), csv + "5");
  EXPECT_EQ(Download("/Reports/ReleaseNotesDownload.asp?ProjectId=1&Kind=fixed"), csv + "0");
  ExpectNoScriptError();
}

}  // namespace

namespace {

// Every piece of text in the lists (tables of class box2) with its colour's contrast (WCAG's
// relative luminance) against the first background behind it; the backgrounds met.
constexpr const char* kListContrast = R"((() => {
  const rgb = s => { const p = s.match(/\(([^)]+)\)/)[1].split(',').map(Number); return p.length > 3 && p[3] == 0 ? null : p; };
  const lum = c => c.map(v => { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); })
                    .reduce((s, v, i) => s + v * [0.2126, 0.7152, 0.0722][i], 0);
  const behind = e => { for (; e; e = e.parentElement) { const c = rgb(getComputedStyle(e).backgroundColor); if (c) return c; }
                        return [255, 255, 255]; };
  const texts = [], backgrounds = new Set();
  for (const e of document.querySelectorAll('table.box2 *')) {
    const text = [...e.childNodes].filter(n => n.nodeType == 3).map(n => n.textContent).join('').trim();
    if (!text || !e.getClientRects().length) continue;
    const back = behind(e), a = lum(rgb(getComputedStyle(e).color).slice(0, 3)), b = lum(back.slice(0, 3));
    backgrounds.add(back.slice(0, 3).join());
    texts.push([text, Math.round((Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05) * 10) / 10]);
  }
  return {texts, backgrounds: [...backgrounds].sort()};
})())";

}  // namespace

TEST_F(IssueListsBrowserTest, EveryRowOfEveryListReadsAtAContrastOfFourAndAHalf) {
  // Rows of two lines and a comment row, on white and on the grey of every second issue.
  Exec("UPDATE SummaryLayouts SET NumRows = 3 WHERE UserId = 'alice' AND LayoutName = 'Default';"
       "INSERT INTO SummaryLayoutFields VALUES ('alice', 'Default', 2, 1, 'Summary'), "
       "('alice', 'Default', 3, 1, 'Comments')");
  testsupport::SignIn(*page, site, "alice", "demo");
  for (const char* path : {"/Assignments/MyAssignments.asp?Filter=All+issues",
                           "/Assignments/MyAssignmentsPrinterFriendly.asp?Filter=All+issues",
                           "/Search/Search.asp?Words=page&IncludeClosed=1",
                           "/Search/SearchPrinterFriendly.asp?Words=page&IncludeClosed=1",
                           "/Reports/ReleaseNotes.asp?ProjectId=1"}) {
    ASSERT_EQ(page->Navigate(site.Url(path)), 200) << path;
    const Json shown = page->Evaluate(kListContrast);
    for (const char* back : {"218,218,218", "255,255,255"})
      EXPECT_TRUE(std::ranges::count(shown["backgrounds"], Json(back))) << path << ": no text on " << back;
    EXPECT_GT(shown["texts"].size(), 20u) << path;
    for (const Json& t : shown["texts"]) EXPECT_GE(t[1].get<double>(), 4.5) << path << ": " << t[0];
  }
  ExpectNoScriptError();
}

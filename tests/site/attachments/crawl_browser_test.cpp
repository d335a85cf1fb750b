// Every page a user reaches from the menu by following links, in Chromium against a vantrel-site on
// the demo site, as a site administrator, a project member and a public user: each answers 200 and
// runs its script without an exception, and every Help link opens the page's help text.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

// The links under `selector` to follow: same site, not a script, not the sign-out; without the
// fragment.
std::string LinksUnder(const std::string& selector) {
  return "[...document.querySelectorAll(" + Json(selector).dump() +
         ")].filter(a => a.origin == location.origin && a.protocol.startsWith('http')"
         " && !/\\/Logout\\.asp$/i.test(a.pathname)).map(a => a.href.split('#')[0])";
}
// Set once the browser controls of the page are live.
constexpr const char* kReadyFlag =
    "document.addEventListener('tamsoloready', () => { window.crawlReady = true; });";

constexpr const char* kReadyStates = "[...document.querySelectorAll('object')].map(o => o.id + ' ' + o.readyState)";
constexpr const char* kAllComplete = "[...document.querySelectorAll('object')].every(o => o.readyState === 4)";

// The demo site has about 120 URLs for each user; links that lead on without end stop the crawl.
constexpr size_t kMostUrls = 400;

bool IsDownload(const std::string& url) {
  const std::string path = url.substr(0, url.find('?'));
  return path.ends_with("Download.asp") || path.ends_with("/Issues/Attachment.asp");
}

// The URLs visited, and what was wrong with each, one line per fault.
struct Crawl {
  std::set<std::string> seen;
  std::vector<std::string> faults;
};

// The path of a URL below the site's root, without its query.
std::string PathOf(const std::string& url, const std::string& base) {
  return url.substr(base.size(), url.find('?') - base.size());
}

void Follow(Page& page, const std::string& base, Crawl& crawl) {
  std::deque<std::string> todo;
  auto add = [&](const Json& links) {
    for (const Json& l : links)
      if (crawl.seen.insert(l.get<std::string>()).second) todo.push_back(l.get<std::string>());
  };
  add(page.Evaluate(LinksUnder("#LeftMenu a[href], #TopMenu a[href]")));
  while (!todo.empty()) {
    if (crawl.seen.size() > kMostUrls) {
      crawl.faults.push_back("the links lead to more than " + std::to_string(kMostUrls) + " URLs");
      return;
    }
    const std::string url = todo.front();
    todo.pop_front();
    if (IsDownload(url)) {
      // A download is no document to load: fetched from the page that links it.
      const Json status = page.Evaluate("fetch(" + Json(url).dump() + ", {credentials: 'same-origin'}).then(r => r.status)");
      if (status != 200) crawl.faults.push_back(url + " answers " + status.dump());
      continue;
    }
    const size_t errorsBefore = page.Exceptions().size();
    const int status = page.Navigate(url);
    const std::string path = PathOf(url, base);
    if (status != 200) crawl.faults.push_back(url + " answers " + std::to_string(status));
    if (path.starts_with("/Help/") &&
        page.Evaluate("!!document.getElementById('HelpText') && !document.getElementById('LeftMenu')") != true)
      crawl.faults.push_back(url + ": no help text in a window of its own");
    if (page.Evaluate("document.querySelector('object') != null") == true) {
      if (!page.WaitFor("window.crawlReady", std::chrono::seconds(10)))
        crawl.faults.push_back(url + ": its controls never became ready");
      // A control complete once live, or once its load has ended.
      else if (!page.WaitFor(kAllComplete, std::chrono::seconds(10)))
        crawl.faults.push_back(url + ": readyState " + page.Evaluate(kReadyStates).dump());
    }
    const auto errors = page.Exceptions();
    for (size_t i = errorsBefore; i < errors.size(); ++i) crawl.faults.push_back(url + ": " + errors[i]);
    add(page.Evaluate(LinksUnder("a[href]")));
  }
}

std::set<std::string> Paths(const std::set<std::string>& urls, const std::string& base) {
  std::set<std::string> out;
  for (const std::string& u : urls) out.insert(PathOf(u, base));
  return out;
}

TEST(CrawlBrowserTest, EveryLinkReachableFromTheMenuAnswersAndRunsItsScript) {
  SiteServer site;
  // An open issue of the public user's, and a file on it and on one of alice's, so that every user
  // reaches an issue with a download among its links.
  sitedb::Db(site.DatabaseFile())
      .Exec("INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId,"
            " DateOpened, DateLastUpdated, Valid, Fixed, Summary, PriorityCode, SeverityCode, ModuleCode,"
            " DetectedInBuildCode, VerifiedInBuildCode) VALUES (7, 1, 'dave', 'New', 'Open', 'dave',"
            " '2025-01-06 00:00:00.000', '2025-01-06 00:00:00.000', 1, 0, 'Asked by a customer', 'Normal', 'Minor',"
            " 'Core', '1.1', '');"
            "INSERT INTO IssueAttachments (IssueId, AttachmentMimeType, AttachmentFilename, AttachmentData)"
            " VALUES (1, 'text/plain', 'steps.txt', x'41'), (7, 'image/png', 'screen.png', x'89504E47');");
  const std::vector<std::string> issues{
      "/Assignments/MyAssignments.asp", "/Assignments/MyAssignmentsPrinterFriendly.asp",
      "/Assignments/MyAssignmentsDownload.asp", "/Search/Search.asp", "/Search/SearchDownload.asp",
      "/Issues/Issue.asp", "/Issues/IssuePrinterFriendly.asp", "/Issues/Attachment.asp", "/User/Filters.asp",
      "/User/Filter.asp", "/User/MyInfo.asp", "/Help/Search/Search.asp", "/Help/Issues/Issue.asp"};
  const std::vector<std::string> reports{
      "/Reports/DailySummary.asp", "/Reports/DailySummaryPrinterFriendly.asp", "/Reports/ReleaseNotes.asp",
      "/Reports/ReleaseNotesPrinterFriendly.asp", "/Reports/ReleaseNotesDownload.asp", "/Reports/SummaryTrends.asp",
      "/Reports/IssueDistribution.asp", "/Help/Reports/DailySummary.asp"};
  struct Case {
    std::string user, password;
    std::vector<std::string> more;  // beside the issue pages
  };
  const Case cases[] = {
      {"admin", "Secret1", {"/Setup/SiteWorkflow.asp", "/Setup/Users.asp", "/Help/Setup/Users.asp",
                            "/Help/Setup/SiteBackup.asp"}},
      {"alice", "demo", {"/Setup/SiteWorkflowInquiry.asp"}},
      {"dave", "demo", {"/Setup/SiteWorkflowInquiry.asp", "/Help/Setup/SiteWorkflowInquiry.asp"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    auto page = Browser::Shared().NewPage();
    page->AddInitScript(kReadyFlag);
    testsupport::SignIn(*page, site, c.user, c.password);
    Crawl crawl;
    Follow(*page, site.Base(), crawl);
    std::string faults;
    for (const std::string& f : crawl.faults) faults += f + "\n";
    EXPECT_EQ(faults, "");
    const std::set<std::string> reached = Paths(crawl.seen, site.Base());
    std::vector<std::string> wanted = issues;
    wanted.insert(wanted.end(), c.more.begin(), c.more.end());
    // The public user has no reports.
    if (c.user != "dave") wanted.insert(wanted.end(), reports.begin(), reports.end());
    for (const std::string& path : wanted) EXPECT_TRUE(reached.count(path)) << path;
    if (c.user == "dave") {
      EXPECT_FALSE(reached.count("/Reports/DailySummary.asp"));
    }
  }
}

}  // namespace

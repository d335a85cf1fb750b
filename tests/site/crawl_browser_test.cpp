// Every page a user reaches from the menu by following links, in Chromium against a vantrel-site on
// the demo site: each answers 200 (or 501, not built yet) and runs its script without an exception.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "support/browser.h"
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
  return path.ends_with("Download.asp");
}

// The URLs visited, and what was wrong with each, one line per fault.
struct Crawl {
  std::set<std::string> seen;
  std::vector<std::string> faults;
};

void Follow(Page& page, Crawl& crawl) {
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
    if (status != 200 && status != 501) crawl.faults.push_back(url + " answers " + std::to_string(status));
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

// The paths of the URLs below the site's root, without their queries.
std::set<std::string> Paths(const std::set<std::string>& urls, const std::string& base) {
  std::set<std::string> out;
  for (const std::string& u : urls) out.insert(u.substr(base.size(), u.find('?') - base.size()));
  return out;
}

TEST(CrawlBrowserTest, EveryLinkReachableFromTheMenuAnswersAndRunsItsScript) {
  SiteServer site;
  const std::vector<std::string> everyone{
      "/Assignments/MyAssignments.asp", "/Assignments/MyAssignmentsPrinterFriendly.asp",
      "/Assignments/MyAssignmentsDownload.asp", "/Search/Search.asp", "/Search/SearchDownload.asp",
      "/Reports/ReleaseNotes.asp", "/Reports/ReleaseNotesPrinterFriendly.asp", "/Reports/ReleaseNotesDownload.asp",
      "/Issues/Issue.asp", "/Issues/IssuePrinterFriendly.asp", "/User/Filters.asp", "/User/Filter.asp",
      "/Reports/SummaryTrends.asp", "/Reports/IssueDistribution.asp", "/User/MyInfo.asp", "/Help/Search/Search.asp"};
  struct Case {
    std::string user, password, workflowPage;
  };
  const Case cases[] = {{"admin", "Secret1", "/Setup/SiteWorkflow.asp"},
                        {"alice", "demo", "/Setup/SiteWorkflowInquiry.asp"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    auto page = Browser::Shared().NewPage();
    page->AddInitScript(kReadyFlag);
    testsupport::SignIn(*page, site, c.user, c.password);
    Crawl crawl;
    Follow(*page, crawl);
    std::string faults;
    for (const std::string& f : crawl.faults) faults += f + "\n";
    EXPECT_EQ(faults, "");
    const std::set<std::string> reached = Paths(crawl.seen, site.Base());
    std::vector<std::string> wanted = everyone;
    wanted.push_back(c.workflowPage);
    for (const std::string& path : wanted) EXPECT_TRUE(reached.count(path)) << path;
  }
}

}  // namespace

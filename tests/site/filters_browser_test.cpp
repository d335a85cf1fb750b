// The saved filter pages with the query wizard in Chromium, against a vantrel-site on the demo
// site: a filter built in the wizard, saved, used by My Assignments, opened again and deleted.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

// The site serves the control library the build made (build-controls.sh).
SiteServer::Options WithControls() { return {.extraArgs = {"--controls", VANTREL_CONTROLS_DIR}}; }

class FiltersBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(VANTREL_CONTROLS_DIR).empty()) GTEST_SKIP() << "the browser controls are not built";
  }
  std::string Eval(const std::string& expression) { return page->Evaluate(expression).get<std::string>(); }
  static std::string Control(int id) { return "#QueryWizard [data-qw='" + std::to_string(id) + "']"; }
  // Opens the filter page and waits for the wizard's dialog.
  void OpenFilter(const std::string& path) {
    ASSERT_EQ(page->Navigate(site.Url(path)), 200);
    ASSERT_TRUE(page->WaitFor("document.querySelector(\"" + Control(282) + "\") !== null"));
  }
  // Chooses an entry of one of the wizard's lists by its text, as the user would.
  void Choose(int id, const std::string& text) {
    ASSERT_TRUE(page->WaitFor("[...(document.querySelector(\"" + Control(id) + "\")?.options ?? [])].some(o => o.text === " +
                              Json(text).dump() + ")"));
    page->Evaluate("(() => { const s = document.querySelector(\"" + Control(id) +
                   "\"); s.selectedIndex = [...s.options].findIndex(o => o.text === " + Json(text).dump() +
                   "); s.dispatchEvent(new Event('change')); })()");
  }
  Json Rows() {
    page->WaitFor("document.querySelector(\"" + Control(272) + "\") !== null");
    return page->Evaluate("[...(document.querySelector(\"" + Control(272) + "\")?.options ?? [])].map(o => o.text)");
  }
  std::vector<std::string> Stored(const std::string& name) {
    return sitedb::Db(site.DatabaseFile())
        .Rows("SELECT FilterExpression, fqFilterExpression FROM SummaryFilters WHERE UserId = 'alice' AND FilterName = '" +
              name + "'");
  }

  SiteServer site{WithControls()};
  std::unique_ptr<Page> page = Browser::Shared().NewPage();
};

TEST_F(FiltersBrowserTest, AliceBuildsSavesUsesReopensAndDeletesAFilter) {
  testsupport::SignIn(*page, site, "alice", "demo");
  EXPECT_EQ(Eval("document.getElementById('FiltersLink').getAttribute('href')"), "/APP/User/Filters.asp");
  OpenFilter("/User/Filter.asp");
  EXPECT_EQ(Eval("document.querySelector(\"" + Control(281) + "\").textContent"),
            "Find issues that match these criteria:");
  EXPECT_EQ(Eval("getComputedStyle(document.querySelector(\"" + Control(281) + "\")).color"), "rgb(0, 51, 153)");
  Choose(282, "Summary");
  Choose(283, "contains");
  page->Type(Control(289), "login");
  page->Click(Control(271));
  Choose(282, "Priority");
  page->Click(Control(292));
  Choose(284, "High");
  page->Click(Control(271));
  const Json rows = Json::parse(R"(["Summary contains 'login'", "or Priority is (exactly) 'High'"])");
  page->WaitFor("document.querySelector(\"" + Control(272) + "\")?.options.length === 2");
  EXPECT_EQ(Rows(), rows);
  page->Type("#FilterName", "Mine");
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(page->Path(), "/APP/User/Filters.asp");
  // Posted texts lose only their outer spaces: the wizard's lines keep their CR LF.
  const std::string expression = "contains Summary \"login\"\r\nor is_(exactly) PriorityCode \"High\"\r\n";
  EXPECT_EQ(Stored("Mine"),
            std::vector<std::string>{expression + "|Issues.Summary like '%login%'\r\nor Issues.PriorityCode = 'High'\r\n"});

  // My Assignments lists exactly the issues the filter's condition matches.
  const std::vector<std::string> matching = sitedb::Db(site.DatabaseFile())
      .Rows("SELECT IssueId FROM Issues WHERE Summary LIKE '%login%' OR PriorityCode = 'High' ORDER BY IssueId");
  page->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=u%3AMine&ProjectId=-1"));
  Json expected = Json::array();
  for (const std::string& id : matching) expected.push_back(id);
  EXPECT_EQ(page->Evaluate("[...document.getElementsByName('chkIssue')].map(b => b.value)"), expected);

  // Opened again from the list of filters, it shows both rows.
  page->Navigate(site.Url("/User/Filters.asp"));
  page->ClickAndWait("a.FilterLink");
  ASSERT_TRUE(page->WaitFor("document.querySelector(\"" + Control(272) + "\")?.options.length === 2"));
  EXPECT_EQ(Rows(), rows);
  EXPECT_EQ(Eval("document.getElementById('FilterName').value"), "Mine");
  EXPECT_EQ(Eval("document.querySelector('param[name=FilterExpression]').getAttribute('value')"), expression);

  // A typed condition goes out as the filter's SQL; a refusal is shown with the form.
  OpenFilter("/User/Filter.asp");
  page->Click("#AdvancedFilter");
  page->Type("#AdvancedCriteria", "Issues.IssueId < 3");
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(Eval("document.getElementById('FilterError').innerText"), "Name cannot be blank.");
  EXPECT_EQ(Eval("document.getElementById('AdvancedCriteria').value"), "Issues.IssueId < 3");
  page->Type("#FilterName", "Typed");
  page->ClickAndWait("#cmdSave");
  EXPECT_EQ(Stored("Typed"), std::vector<std::string>{"Issues.IssueId < 3|Issues.IssueId < 3"});

  // A lone "(" stops the submit.
  OpenFilter("/User/Filter.asp");
  Choose(282, "Summary");
  page->Click(Control(293));
  page->Type(Control(289), "x");
  page->Click(Control(271));
  page->Type("#FilterName", "Bad");
  page->Click("#cmdSave");
  ASSERT_TRUE(page->WaitFor("document.querySelector('.tamsolo-modal-text') !== null"));
  EXPECT_EQ(Eval("document.querySelector('.tamsolo-modal-text').textContent"), "Mismatched parenthesis.");
  EXPECT_EQ(page->Path(), "/APP/User/Filter.asp");
  EXPECT_TRUE(Stored("Bad").empty());

  // Deleted from the list of filters.
  page->Navigate(site.Url("/User/Filters.asp"));
  EXPECT_EQ(page->Evaluate("[...document.getElementsByName('chkFilter')].map(b => b.value)"),
            Json::parse(R"(["Mine", "Typed", "Urgent%20issues"])"));
  page->Click("input[name=chkFilter][value='Mine']");
  page->ClickAndWait("#cmdDelete");
  EXPECT_TRUE(Stored("Mine").empty());
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('a.FilterLink')].map(a => a.textContent)"),
            Json::parse(R"(["Typed", "Urgent issues"])"));
  const auto errors = page->Exceptions();
  EXPECT_TRUE(errors.empty()) << errors.front();
}

}  // namespace

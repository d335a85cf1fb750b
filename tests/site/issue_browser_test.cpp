// The issue pages in Chromium against a vantrel-site on the demo site: entering, checking and
// saving issues, reading them without the right to change them, concurrent saves, and the
// printer-friendly page.
#include <gtest/gtest.h>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

// A field on the entry form, in its own layout row; a text field unless told otherwise.
void AddField(const std::filesystem::path& file, const std::string& name, const std::string& friendlyName,
              const std::string& representation = "text", const std::string& column = "varchar(255) COLLATE NOCASE") {
  sitedb::Db(file).Exec("ALTER TABLE Issues ADD COLUMN " + name + " " + column +
                        ";"
                        "INSERT INTO IssueFields (FieldName, FieldFriendlyName, TooltipForFilter, Representation,"
                        " NumLines, TextMaxLength, TableName, DataEntryField, FilterFieldName, FilterFqFieldName,"
                        " FilterFieldType) VALUES ('" +
                        name + "', '" + friendlyName + "', '', '" + representation + "', 1, 255, '', 1, '" + name +
                        "', 'Issues." + name +
                        "', 0);"
                        "INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName)"
                        " VALUES (1, 6, 1, '" +
                        name + "');");
}

class IssueBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> SignedIn(const std::string& user) {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, user, "demo");
    return page;
  }
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }
  void SetValue(Page& page, const std::string& id, const std::string& value) {
    page.Evaluate("document.getElementById(" + Json(id).dump() + ").value = " + Json(value).dump());
  }

  SiteServer site;
};

TEST_F(IssueBrowserTest, ANewIssueIsCheckedInTheBrowserThenStoredWithItsComment) {
  auto page = SignedIn("alice");
  EXPECT_EQ(page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New")), 200);
  EXPECT_EQ(page->Evaluate("[document.fIssueDetail.method, document.fIssueDetail.enctype]"),
            Json::parse(R"(["post", "multipart/form-data"])"));
  EXPECT_EQ(page->Evaluate("['ResolutionCode', 'StatusCode'].map(n => document.fIssueDetail[n].value)"),
            Json::parse(R"(["New", "Open"])"));
  EXPECT_EQ(page->Evaluate("[...document.fIssueDetail.AssignedToUser.options].map(o => o.value)"),
            Json::parse(R"j(["admin", "alice", "Automatic (alice)", "bob"])j"));
  // The workflow assigns a new issue to the developers' lead: that choice comes preselected.
  EXPECT_EQ(page->Evaluate("document.fIssueDetail.AssignedToUser.value"), "Automatic (alice)");
  page->Evaluate("window.stayed = true");
  page->Click("#Save");
  ASSERT_TRUE(page->WaitFor("document.activeElement && document.activeElement.id == 'Summary'"));
  EXPECT_EQ(page->Alerts(), std::vector<std::string>{"Summary cannot be blank."});
  EXPECT_EQ(page->Evaluate("window.stayed"), true);
  EXPECT_EQ(Text("select count(*) from Issues"), "6");

  page->Type("#Summary", "Sorting by date is slow");
  page->Type("#Comments", "Seen on a list of 500 issues.");
  SetValue(*page, "AssignedToUser", "bob");
  page->ClickAndWait("#Save");
  EXPECT_EQ(page->Evaluate("location.pathname + location.search"), "/APP/Issues/Issue.asp?IssueId=7");
  EXPECT_EQ(Text("select Summary || '|' || AssignedToUser || '|' || ResolutionCode || '|' || StatusCode"
                 " from Issues where IssueId = 7"),
            "Sorting by date is slow|bob|New|Open");
  EXPECT_EQ(Text("select CommentAuthor || '|' || CommentText from IssueComments where IssueId = 7"),
            "alice|Seen on a list of 500 issues.");
  EXPECT_EQ(page->Evaluate("document.getElementById('IssueTitle').innerText"), "Issue 7");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(IssueBrowserTest, AnotherProjectRedrawsTheNewIssueWithItsCodes) {
  sitedb::Db(site.DatabaseFile())
      .Exec("INSERT INTO Projects (ProjectId, ProjectCode, ProjectDescription, PublicAccessible,"
            " PublicMembersOfGroupCode, EMailEnabled, WorkflowId) VALUES (2, 'Second', '', 0, '', 0, 1);"
            "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator, OverrideWorkflow)"
            " VALUES (2, 'alice', 0, 0);"
            "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, ''), (2, 'Engine');");
  auto page = SignedIn("alice");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  const std::string modules = "[...document.getElementById('ModuleCode').options].map(o => o.text)";
  EXPECT_EQ(page->Evaluate(modules), Json::parse(R"(["", "Core", "Documentation", "User interface"])"));
  page->Type("#Summary", "Starts in the second project");
  SetValue(*page, "ProjectCode", "2");
  page->Evaluate("(() => { const b = document.createElement('button'); b.type = 'button'; b.id = 'go';"
                 " b.onclick = () => document.getElementById('ProjectCode').dispatchEvent(new Event('change'));"
                 " document.getElementById('PageContent').prepend(b); })()");
  page->ClickAndWait("#go");
  EXPECT_EQ(page->Evaluate(modules), Json::parse(R"(["", "Engine"])"));
  EXPECT_EQ(page->Evaluate("[document.getElementById('ProjectCode').value, document.getElementById('Summary').value,"
                           " document.getElementById('IssueTitle').innerText, !!document.getElementById('Message')]"),
            Json::parse(R"(["2", "Starts in the second project", "New Issue", false])"));
  EXPECT_EQ(Text("select count(*) from Issues"), "6");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(IssueBrowserTest, TheAssigneeChangesTheIssueAndAnotherMemberOnlyReadsIt) {
  auto alice = SignedIn("alice");
  EXPECT_EQ(alice->Navigate(site.Url("/Issues/Issue.asp?IssueId=1")), 200);
  EXPECT_EQ(alice->Evaluate("[document.getElementById('inq_ProjectCode').disabled,"
                            " document.querySelector('input[type=hidden][name=ProjectCode]').value,"
                            " document.getElementById('Summary').value]"),
            Json::parse(R"([true, "1", "The login page refuses passwords that contain a blank"])"));
  // A change of resolution redraws the form for the new target, keeping what was typed.
  SetValue(*alice, "Summary", "Blanks in passwords are refused");
  SetValue(*alice, "ResolutionCode", "Fixed");
  // The change as the box's own event, from a button that the click-and-wait can press.
  alice->Evaluate("(() => { const b = document.createElement('button'); b.type = 'button'; b.id = 'go';"
                  " b.onclick = () => document.getElementById('ResolutionCode').dispatchEvent(new Event('change'));"
                  " document.getElementById('PageContent').prepend(b); })()");
  alice->ClickAndWait("#go");
  EXPECT_EQ(alice->Evaluate("[document.getElementById('Summary').value,"
                            " [...document.getElementById('StatusCode').options].map(o => o.value)]"),
            Json::parse(R"(["Blanks in passwords are refused", ["Open"]])"));
  SetValue(*alice, "AssignedToUser", "carol");
  alice->ClickAndWait("#Save");
  EXPECT_EQ(Text("select Summary || '|' || ResolutionCode || '|' || AssignedToUser from Issues where IssueId = 1"),
            "Blanks in passwords are refused|Fixed|carol");
  EXPECT_TRUE(alice->Exceptions().empty()) << alice->Exceptions().front();

  auto carol = SignedIn("carol");
  EXPECT_EQ(carol->Navigate(site.Url("/Issues/Issue.asp?IssueId=5")), 200);
  EXPECT_EQ(carol->Evaluate("[!!document.getElementById('Save'), !!document.querySelector('textarea#Summary'),"
                            " document.getElementById('ResolutionCode').disabled,"
                            " document.querySelector('input[type=hidden][name=Summary]').value]"),
            Json::parse(R"([false, false, true, "The issue list sorts dates as text"])"));
  EXPECT_TRUE(carol->Exceptions().empty()) << carol->Exceptions().front();
  EXPECT_EQ(carol->Navigate(site.Url("/Issues/Issue.asp?IssueId=99")), 404);
}

TEST_F(IssueBrowserTest, TheSecondOfTwoSavesOfTheSameIssueIsRefused) {
  auto first = SignedIn("alice");
  auto second = SignedIn("alice");
  for (Page* p : {first.get(), second.get()}) p->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  SetValue(*first, "Summary", "First");
  first->ClickAndWait("#Save");
  SetValue(*second, "Summary", "Second");
  second->ClickAndWait("#Save");
  EXPECT_EQ(second->Evaluate("document.getElementById('Message').innerText"),
            "Another user has changed this issue. You must cancel your changes.");
  EXPECT_EQ(second->Evaluate("document.getElementById('Summary').value"), "Second");
  EXPECT_EQ(Text("select Summary from Issues where IssueId = 1"), "First");
  // Saving again does not overwrite the other change either.
  second->ClickAndWait("#Save");
  EXPECT_EQ(Text("select Summary from Issues where IssueId = 1"), "First");
  EXPECT_TRUE(second->Exceptions().empty()) << second->Exceptions().front();
}

TEST_F(IssueBrowserTest, ARequiredFieldNamedWithAnApostropheIsAskedForAndAPostWithoutTokenIsRefused) {
  AddField(site.DatabaseFile(), "CustomerName", "Customer''s name");
  sitedb::Db(site.DatabaseFile()).Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'CustomerName')");
  auto page = SignedIn("alice");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  page->Type("#Summary", "Needs a customer");
  page->Click("#Save");
  ASSERT_TRUE(page->WaitFor("document.activeElement && document.activeElement.id == 'CustomerName'"));
  EXPECT_EQ(page->Alerts(), std::vector<std::string>{"Customer's name cannot be blank."});

  // Sent past the script, the writer's refusal shows every line above the entries as typed.
  SetValue(*page, "Summary", "");
  page->Type("#Comments", "Kept <b>as typed</b>");
  // The attached file is kept as a provisional attachment for the save, and dropped with the refusal.
  ASSERT_EQ(page->Evaluate("(() => { const t = new DataTransfer(); t.items.add(new File(['BM'], 'shot.bmp'));"
                           " document.fIssueDetail.Attachment.files = t.files; return t.files.length; })()"),
            1);
  const std::string provisional =
      "select count(*) || ' ' || coalesce((select seq from sqlite_sequence where name = 'ProvisionalAttachments'), 0)"
      " from ProvisionalAttachments";
  const std::string before = Text(provisional);
  page->Evaluate("(() => { const b = document.createElement('button'); b.type = 'button'; b.id = 'go';"
                 " b.onclick = () => document.fIssueDetail.submit(); document.getElementById('PageContent').prepend(b); })()");
  page->ClickAndWait("#go");
  EXPECT_EQ(page->Evaluate("[document.getElementById('Message').innerHTML, document.getElementById('Comments').value]"),
            Json::parse(R"(["Summary cannot be blank.<br>Customer's name cannot be blank.", "Kept <b>as typed</b>"])"));
  EXPECT_EQ(Text("select count(*) from Issues"), "6");
  EXPECT_EQ(before, "0 0");
  EXPECT_EQ(Text(provisional), "0 1");  // one row was made, and none is left

  const std::string post =
      "(async () => { const f = new FormData(document.fIssueDetail); f.set('CustomerName', 'Acme'); f.set('Summary', 'Needs a customer'); %;"
      " const r = await fetch(location.href, {method: 'POST', body: f, credentials: 'same-origin', redirect: 'manual'});"
      " return r.status; })()";
  auto posting = [&](const std::string& change) {
    std::string expr = post;
    return page->Evaluate(expr.replace(expr.find('%'), 1, change));
  };
  EXPECT_EQ(posting("f.delete('_token')"), 403);
  EXPECT_EQ(Text("select count(*) from Issues"), "6");
  EXPECT_EQ(posting("f.set('_token', 'x')"), 403);
  EXPECT_EQ(posting("0"), 0);  // the redirect to the new issue (opaque to the script)
  EXPECT_EQ(Text("select CustomerName from Issues where IssueId = 7"), "Acme");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(IssueBrowserTest, ARequiredCodeIsAskedForByTheTextOfItsChosenOption) {
  sitedb::Db(site.DatabaseFile()).Exec("INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'ModuleCode')");
  auto page = SignedIn("alice");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  page->Type("#Summary", "Needs a module");
  page->Evaluate("window.stayed = true");
  page->Click("#Save");
  ASSERT_TRUE(page->WaitFor("document.activeElement && document.activeElement.id == 'ModuleCode'"));
  EXPECT_EQ(page->Alerts(), std::vector<std::string>{"Module cannot be blank."});
  EXPECT_EQ(page->Evaluate("window.stayed"), true);
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();

  SetValue(*page, "ModuleCode", "Core");
  page->ClickAndWait("#Save");
  EXPECT_EQ(Text("select ModuleCode from Issues where IssueId = 7"), "Core");
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(IssueBrowserTest, ADateFieldShowsItsDateAndKeepsAPickedOneAcrossARedraw) {
  AddField(site.DatabaseFile(), "Due", "Due", "datetime", "DATETIME NULL");
  sitedb::Db(site.DatabaseFile()).Exec("UPDATE Issues SET Due = '2026-02-07 13:00:00.000' WHERE IssueId = 1");
  const std::string shown = "[document.getElementById('dt_Due').type, document.getElementById('dt_Due').value,"
                            " document.getElementById('dt_Due').disabled]";
  const std::string posted = "document.fIssueDetail.Due.value";
  auto alice = SignedIn("alice");
  alice->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  EXPECT_EQ(alice->Evaluate(shown), Json::parse(R"(["date", "2026-02-07", false])"));
  // A date picked as the picker sets it: the input's value, then its change.
  alice->Evaluate("(() => { const d = document.getElementById('dt_Due'); d.value = '2026-03-15';"
                  " d.dispatchEvent(new Event('change')); })()");
  EXPECT_EQ(alice->Evaluate(posted), "2026-03-15");
  // A change of resolution posts the form back and redraws it with the picked date.
  SetValue(*alice, "ResolutionCode", "Fixed");
  alice->Evaluate("(() => { const b = document.createElement('button'); b.type = 'button'; b.id = 'go';"
                  " b.onclick = () => document.getElementById('ResolutionCode').dispatchEvent(new Event('change'));"
                  " document.getElementById('PageContent').prepend(b); })()");
  alice->ClickAndWait("#go");
  EXPECT_EQ(alice->Evaluate(shown), Json::parse(R"(["date", "2026-03-15", false])"));
  EXPECT_EQ(alice->Evaluate(posted), "2026-03-15");
  // The writers keep no date field: the saved issue shows the stored date again.
  alice->ClickAndWait("#Save");
  EXPECT_EQ(Text("select ResolutionCode || '|' || Due from Issues where IssueId = 1"),
            "Fixed|2026-02-07 13:00:00.000");
  EXPECT_EQ(alice->Evaluate(shown), Json::parse(R"(["date", "2026-02-07", false])"));
  EXPECT_TRUE(alice->Exceptions().empty()) << alice->Exceptions().front();

  // Read-only, the date shows in a disabled input (the fix went to the testers' lead, carol).
  auto bob = SignedIn("bob");
  bob->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  EXPECT_EQ(bob->Evaluate(shown), Json::parse(R"(["date", "2026-02-07", true])"));
  EXPECT_TRUE(bob->Exceptions().empty()) << bob->Exceptions().front();
}

TEST_F(IssueBrowserTest, MarkupInEveryKindOfValueShowsAsText) {
  const std::string payload = "</textarea><img src=x onerror=\"window.x=1\">&amp;\"'";
  std::string quoted = payload;
  for (size_t at = 0; (at = quoted.find('\'', at)) != std::string::npos; at += 2) quoted.insert(at, "'");
  AddField(site.DatabaseFile(), "Customer", quoted);
  sitedb::Db(site.DatabaseFile())
      .Exec("INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, '" + quoted +
            "');"
            "UPDATE Issues SET Summary = '" +
            quoted + "', Customer = '" + quoted + "', ModuleCode = '" + quoted +
            "' WHERE IssueId = 1;"
            "INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText) VALUES (1, 'Comments', 'carol', '" +
            quoted + "');");
  const std::string count = "document.body.innerText.split(" + Json(payload).dump() + ").length - 1";
  const std::string shown =
      "[document.getElementById('Summary').value, document.getElementById('Customer').value,"
      " document.getElementById('%ModuleCode').selectedOptions[0].text]";
  struct Case {
    std::string user, path, idPrefix;
    int texts;  // in the page's text: the label, the comment, the module's option, the read-only values
  };
  const Case cases[] = {
      {"alice", "/Issues/Issue.asp?IssueId=1", "", 3},
      {"carol", "/Issues/Issue.asp?IssueId=1", "inq_", 5},
      {"carol", "/Issues/IssuePrinterFriendly.asp?IssueId=1", "", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user + " " + c.path);
    auto page = SignedIn(c.user);
    EXPECT_EQ(page->Navigate(site.Url(c.path)), 200);
    EXPECT_EQ(page->Evaluate(count), c.texts);
    if (c.path.find("Printer") == std::string::npos) {
      std::string expr = shown;
      EXPECT_EQ(page->Evaluate(expr.replace(expr.find('%'), 1, c.idPrefix)), Json::array({payload, payload, payload}));
    } else {
      EXPECT_EQ(page->Evaluate("!!document.getElementById('LeftMenu')"), false);
    }
    EXPECT_EQ(page->Evaluate("[typeof window.x, document.querySelectorAll('img[src=x]').length]"),
              Json::parse(R"(["undefined", 0])"));
    EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  }
}

}  // namespace

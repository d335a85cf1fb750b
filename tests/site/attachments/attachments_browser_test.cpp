// The files of an issue, the daily summary and the help window, in Chromium against a vantrel-site
// on the demo site.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

class AttachmentsBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> SignedIn(const std::string& user) {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, user, "demo");
    return page;
  }
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }
  // Puts files (name, MIME type, script expression of their content) into the issue form's input.
  static void Choose(Page& page, const std::vector<std::array<std::string, 3>>& files) {
    std::string add;
    for (const auto& [name, type, content] : files)
      add += "t.items.add(new File([" + content + "], " + Json(name).dump() + ", {type: " + Json(type).dump() + "}));";
    ASSERT_EQ(page.Evaluate("(() => { const t = new DataTransfer(); " + add +
                            " document.fIssueDetail.Attachment.files = t.files; return t.files.length; })()"),
              files.size());
  }
  static Json Listed(Page& page) {
    return page.Evaluate("[...document.querySelectorAll('#Attachments a')].map(a => a.textContent)");
  }
  // A save past the page's checks (a plain submit, as a button would send it).
  static void Submit(Page& page) {
    page.Evaluate("(() => { const b = document.createElement('button'); b.type = 'button'; b.id = 'go';"
                  " b.onclick = () => document.fIssueDetail.submit();"
                  " document.getElementById('PageContent').prepend(b); })()");
    page.ClickAndWait("#go");
  }
  // The status, the headers that matter and the bytes of a download, as the page fetches it.
  static Json Download(Page& page, const std::string& href) {
    return page.Evaluate("fetch(" + Json(href).dump() +
                         ", {credentials: 'same-origin'}).then(async r => [r.status, r.headers.get('Content-Type'),"
                         " r.headers.get('Content-Disposition'), r.headers.get('X-Content-Type-Options'),"
                         " [...new Uint8Array(await r.arrayBuffer())]])");
  }

  SiteServer site;
};

TEST_F(AttachmentsBrowserTest, FilesAddedOnCreationAndOnUpdateAreListedDownloadedAndRemoved) {
  auto page = SignedIn("alice");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  page->Type("#Summary", "The export loses bytes");
  Choose(*page, {{"bytes.bin", "", "new Uint8Array([...Array(256).keys()])"}});
  page->ClickAndWait("#Save");
  ASSERT_EQ(page->Path(), "/APP/Issues/Issue.asp");
  EXPECT_EQ(Listed(*page), Json::array({"bytes.bin"}));

  // Two more on a save of the existing issue: a text with a name beyond ASCII, and a page.
  Choose(*page, {{"notes ü.txt", "text/plain", "'first line\\n'"},
                 {"page.html", "text/html", "'<script>parent.rendered = true</script>'"}});
  page->ClickAndWait("#Save");
  EXPECT_EQ(Listed(*page), Json::parse(R"(["bytes.bin", "notes ü.txt", "page.html"])"));
  EXPECT_EQ(Text("select count(*) from ProvisionalAttachments"), "0");
  const Json hrefs = page->Evaluate("[...document.querySelectorAll('#Attachments a')].map(a => a.href)");
  Json bytes = Json::array();
  for (int i = 0; i < 256; ++i) bytes.push_back(i);
  EXPECT_EQ(Download(*page, hrefs[0]),
            Json::array({200, "application/octet-stream",
                         "attachment; filename=\"bytes.bin\"; filename*=UTF-8''bytes.bin", "nosniff", bytes}));
  const Json text = Download(*page, hrefs[1]);
  EXPECT_EQ(text[1], "text/plain");
  EXPECT_EQ(text[2], "attachment; filename=\"notes _.txt\"; filename*=UTF-8''notes%20%C3%BC.txt");
  EXPECT_EQ(text[4], Json::parse("[102, 105, 114, 115, 116, 32, 108, 105, 110, 101, 10]"));
  // The page goes out as bytes to save; opened in a frame of the site it runs nothing.
  const Json html = Download(*page, hrefs[2]);
  EXPECT_EQ(html[1], "application/octet-stream");
  EXPECT_EQ(html[4].size(), 39u);
  page->Evaluate("(() => { const f = document.createElement('iframe'); f.src = " + hrefs[2].dump() +
                 "; document.body.append(f); })()");
  EXPECT_FALSE(page->WaitFor("window.rendered", std::chrono::seconds(2)));

  // A ticked file goes with the next save; the printer page lists the others.
  page->Evaluate("document.querySelector('#Attachments input[type=checkbox]').checked = true");
  page->ClickAndWait("#Save");
  EXPECT_EQ(Listed(*page), Json::parse(R"(["notes ü.txt", "page.html"])"));
  EXPECT_EQ(Text("select group_concat(AttachmentFilename, '|') from IssueAttachments where IssueId = 7"),
            "notes ü.txt|page.html");
  page->Navigate(site.Url("/Issues/IssuePrinterFriendly.asp?IssueId=7"));
  EXPECT_EQ(Listed(*page), Json::parse(R"(["notes ü.txt", "page.html"])"));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

TEST_F(AttachmentsBrowserTest, AFileIsNotThereForAnotherProjectAndARefusedSaveAddsNone) {
  sitedb::Db(site.DatabaseFile())
      .Exec("INSERT INTO IssueAttachments (AttachmentId, IssueId, AttachmentMimeType, AttachmentFilename,"
            " AttachmentData) VALUES (3, 1, 'text/plain', 'steps.txt', x'41');"
            "INSERT INTO Projects (ProjectId, ProjectCode, ProjectDescription, PublicAccessible,"
            " PublicMembersOfGroupCode, EMailEnabled, WorkflowId) VALUES (2, 'Other', '', 0, '', 0, 1);"
            "UPDATE ProjectUsers SET ProjectId = 2 WHERE UserId = 'bob';");
  auto bob = SignedIn("bob");
  bob->Navigate(site.Url("/Search/Search.asp"));
  const Json foreign = bob->Evaluate(
      "Promise.all([3, 4].map(id => fetch('../Issues/Attachment.asp?AttachmentId=' + id).then(async r => [r.status,"
      " (await r.text()).includes('The attachment cannot be found.')])))");
  EXPECT_EQ(foreign, Json::parse("[[404, true], [404, true]]"));
  EXPECT_EQ(bob->Navigate(site.Url("/Issues/Attachment.asp?AttachmentId=3")), 404);

  // Two saves of the same issue: the second is refused, and the file posted with it is not kept.
  auto first = SignedIn("alice");
  auto second = SignedIn("alice");
  for (Page* p : {first.get(), second.get()}) p->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  EXPECT_EQ(Listed(*second), Json::array({"steps.txt"}));
  first->ClickAndWait("#Save");
  Choose(*second, {{"late.txt", "text/plain", "'late'"}});
  Submit(*second);
  EXPECT_EQ(second->Evaluate("document.getElementById('Message').innerText"),
            "Another user has changed this issue. You must cancel your changes.");
  EXPECT_EQ(Text("select group_concat(AttachmentFilename) from IssueAttachments"), "steps.txt");
  EXPECT_EQ(Text("select count(*) from ProvisionalAttachments"), "0");
  EXPECT_TRUE(second->Exceptions().empty()) << second->Exceptions().front();
  // A save refused for a damaged row image shows the form again and takes no file at all.
  second->Evaluate("document.fIssueDetail.rsIssue.value = 'damaged'");
  Choose(*second, {{"later.txt", "text/plain", "'later'"}});
  Submit(*second);
  EXPECT_EQ(second->Evaluate("performance.getEntriesByType('navigation')[0].responseStatus"), 400);
  EXPECT_EQ(second->Evaluate("document.getElementById('Message').innerText"),
            "The recordset image is damaged or was not made by this site.");
  EXPECT_EQ(Text("select count(*) || ' ' || (select seq from sqlite_sequence where name = 'ProvisionalAttachments')"
                 " from ProvisionalAttachments"),
            "0 1");
}

TEST_F(AttachmentsBrowserTest, TheDailySummaryShowsTheChangesOfThePeriodAndItsHelpOpensInAWindowOfItsOwn) {
  auto alice = SignedIn("alice");
  alice->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  alice->Type("#Summary", "Counted today");
  alice->ClickAndWait("#Save");
  alice->Navigate(site.Url("/Reports/DailySummary.asp"));
  const std::string counts =
      "[...document.querySelectorAll('#%s tr')].slice(1).map(r => [...r.cells].map(c => c.innerText).join(' '))"
      ".sort()";
  auto table = [&](const char* id) {
    std::string expr = counts;
    return alice->Evaluate(expr.replace(expr.find("%s"), 2, id));
  };
  EXPECT_EQ(table("TeamSummary"), Json::parse(R"(["admin 0 0", "alice 1 1", "bob 0 0", "carol 0 0"])"));
  EXPECT_EQ(table("PublicSummary"), Json::array({"Nobody."}));
  EXPECT_EQ(alice->Evaluate("[...document.querySelectorAll('.DailyDetail tr')].slice(1)"
                           ".map(r => [0, 1, 2, 5].map(i => r.cells[i].innerText))"),
            Json::parse(R"([["7", "Demo", "New", "Counted today"]])"));

  // Yesterday alice fixed issue 2; the block's printer link carries the period.
  alice->Evaluate("document.getElementById('DateRange').value = 'Yesterday'");
  alice->ClickAndWait("#Show");
  EXPECT_EQ(table("TeamSummary"), Json::parse(R"(["admin 0 0", "alice 1 1", "bob 0 0", "carol 0 0"])"));
  const Json printer = alice->Evaluate("[...document.querySelectorAll('#LeftMenu a')].find(a => a.innerText =="
                                       " 'Printer friendly...').href");
  EXPECT_EQ(printer, site.Url("/Reports/DailySummaryPrinterFriendly.asp?ProjectId=-1&DateRange=Yesterday"));

  // Help opens the page's own text in its window, without the menu.
  alice->Evaluate("window.open = (url, target, features) => { window.opened = [url, target, features]; }");
  alice->Click("#TopMenu a[href$='/Help/Reports/DailySummary.asp']");
  ASSERT_TRUE(alice->WaitFor("window.opened"));
  const Json opened = alice->Evaluate("window.opened");
  EXPECT_EQ(opened[0], "/APP/Help/Reports/DailySummary.asp?ProjectId=-1&DateRange=Yesterday");
  EXPECT_EQ(alice->Navigate(site.Origin() + opened[0].get<std::string>()), 200);
  EXPECT_EQ(alice->Evaluate("[document.querySelector('#HelpText .box2').innerText,"
                            " !!document.getElementById('LeftMenu')]"),
            Json::parse(R"(["Daily Summary", false])"));

  alice->Navigate(printer);
  EXPECT_EQ(alice->Evaluate("[!!document.getElementById('LeftMenu'),"
                            " document.querySelectorAll('.DailyDetail').length]"),
            Json::parse("[false, 1]"));
  EXPECT_EQ(alice->Navigate(site.Url("/Help/Reports/Nowhere.asp")), 404);
  EXPECT_TRUE(alice->Exceptions().empty()) << alice->Exceptions().front();

  // The public user has no reports.
  auto dave = SignedIn("dave");
  EXPECT_EQ(dave->Navigate(site.Url("/Reports/DailySummary.asp")), 403);
  EXPECT_EQ(dave->Navigate(site.Url("/Reports/DailySummaryPrinterFriendly.asp")), 403);
}

// Files too large for the site are refused in the page, before anything is sent, whether the Save
// button or the page's own script (a redraw for another project) sends the form.
TEST_F(AttachmentsBrowserTest, FilesTooLargeToSendAreRefusedInThePageWithTheFormKept) {
  auto page = SignedIn("alice");
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=New"));
  std::atomic<int> sent{0};
  page->Intercept("*/Issues/Issue.asp*", [&](const Json&) {
    ++sent;
    return testsupport::Reply{500, "sent"};
  });
  page->Type("#Summary", "The nightly logs");
  page->Type("#Comments", "Both logs attached.");
  Choose(*page, {{"small.log", "text/plain", "'x'"}, {"nightly.log", "text/plain", "new Uint8Array(21 << 20)"}});
  page->Evaluate("window.stayed = true");
  const std::string refused =
      "The files are too large to send: with the form they come to 21.0 MiB, and the site takes at most 20 MiB at "
      "once. Nothing was sent; remove a file or choose smaller ones.";
  const std::string shown = "[document.getElementById('UploadTooLarge')?.innerText, Summary.value, Comments.value,"
                            " fIssueDetail.Attachment.files.length, window.stayed]";
  const Json kept = Json::array({refused, "The nightly logs", "Both logs attached.", 2, true});
  page->Click("#Save");
  EXPECT_EQ(page->Evaluate(shown), kept);
  page->Evaluate("PostBack('Project')");
  EXPECT_EQ(page->Evaluate(shown), kept);
  EXPECT_EQ(sent.load(), 0);
  EXPECT_EQ(Text("select count(*) from Issues"), "6");
  // Choosing files that fit takes the sentence away.
  Choose(*page, {{"small.log", "text/plain", "'x'"}});
  page->Evaluate("fIssueDetail.Attachment.dispatchEvent(new Event('change', {bubbles: true}))");
  EXPECT_EQ(page->Evaluate("document.getElementById('UploadTooLarge')"), nullptr);

  // A file well within the limit is saved with the issue.
  auto other = SignedIn("alice");
  other->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  Choose(*other, {{"nightly.log", "text/plain", "new Uint8Array(19 << 20)"}});
  other->ClickAndWait("#Save");
  EXPECT_EQ(Listed(*other), Json::array({"nightly.log"}));
  EXPECT_EQ(Text("select length(AttachmentData) from IssueAttachments where AttachmentFilename like '%nightly.log'"),
            std::to_string(19 << 20));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  EXPECT_TRUE(other->Exceptions().empty()) << other->Exceptions().front();
}

// Help texts corrected to say what their pages do, as the help window shows them: a field's
// meaning, or the page's purpose or users.
TEST_F(AttachmentsBrowserTest, TheHelpTextsSayWhatTheirPagesDo) {
  struct Said {
    std::string path, part, text;  // part: a field's name, "purpose" or "who"
  };
  const Said said[] = {
      {"/Setup/Projects.asp", "purpose",
       "The projects you administer (a site administrator: every project). Click a project to change it; tick "
       "projects and delete them with all their issues; make a new project."},
      {"/Setup/Projects.asp", "New project...", "Opens an empty project, for any site or project administrator."},
      {"/Setup/Projects.asp", "who",
       "Site administrators, and project administrators for the projects they administer; any of them may make a new "
       "project. Anybody else is refused."},
      {"/User/SignUp.asp", "User id",
       "The id you will sign in with: it begins with a letter and holds only letters and digits."},
      {"/Search/Search.asp", "Words",
       "Issues whose text fields or comments hold this text as typed: the words together, in this order, not each "
       "word on its own."},
      {"/User/Personalize.asp", "Layouts",
       "Your layouts of the issue lists: which fields in which rows. Click a layout to change it; tick layouts and "
       "delete them. Your last layout cannot be deleted."},
      {"/User/Layout.asp", "Name",
       "The name the lists offer it by, unique among your layouts: at most 20 characters for a new layout. The "
       "layout \"Default\" keeps its name."},
      {"/Issues/Issue.asp", "who",
       "Whoever may see the issue (the members of its project, public users for a public project, site "
       "administrators every issue). Its assignee, the project's administrators and site administrators may change "
       "it; everybody else only reads it. New issues: users whose groups the workflow lets start an issue in one of "
       "their projects."},
      {"/Issues/Issue.asp", "Add files",
       "Files to attach when you save, a screen capture among them; with the form they may come to at most 20 MiB, "
       "and larger ones are refused before anything is sent."},
      {"/Setup/Users.asp", "Tick boxes",
       "The users that Delete removes, with their memberships, leads, layouts and filters. A user to whom an issue "
       "is or was assigned cannot be deleted, nor the last site administrator."},
      {"/Setup/SiteRestore.asp", "purpose",
       "Replaces the site's database with one of its backups, after you confirm. The backup is checked first (that "
       "it is a whole backup of this site, of a version the site can read) and a safety copy of the current content "
       "is written to the backup folder."},
      {"/Reports/IssueDistribution.asp", "who",
       "Every signed-in user; the menu shows the Reports group to everybody but public users."},
      {"/Default.asp", "Password",
       "Your password. After several wrong tries the sign-in is held back for a few seconds, longer with each further "
       "wrong try; the page says how long."},
  };
  auto alice = SignedIn("alice");
  for (const Said& s : said) {
    ASSERT_EQ(alice->Navigate(site.Url("/Help" + s.path)), 200) << s.path;
    const Json shown = alice->Evaluate(
        "({purpose: HelpPurpose.innerText, who: HelpWho.innerText.replace(/^Who may use it: /, ''),"
        " fields: Object.fromEntries([...document.querySelectorAll('#HelpFields tr')]"
        ".map(r => [r.cells[0].innerText, r.cells[1].innerText]))})");
    const Json& text = s.part == "purpose" || s.part == "who" ? shown[s.part] : shown["fields"][s.part];
    EXPECT_EQ(text, s.text) << s.path << ": " << s.part;
  }

  // As the Projects text says, a project administrator who is no site administrator makes a project.
  alice->Navigate(site.Url("/Setup/Projects.asp"));
  alice->ClickAndWait("#NewRecord");
  alice->Type("#ProjectCode", "Gamma");
  alice->Type("#ProjectDescription", "A project of alice's");
  alice->ClickAndWait("#cmdSave");
  EXPECT_EQ(alice->Path(), "/APP/Setup/Projects.asp");
  EXPECT_EQ(Text("select count(*) from Projects where ProjectCode = 'Gamma'"), "1");
  EXPECT_TRUE(alice->Exceptions().empty()) << alice->Exceptions().front();
}

}  // namespace

// The pages of users, groups and projects and the personal pages, in Chromium against a
// vantrel-site on the demo site: each test does one whole task as a user would, with the refusals
// met on the way.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"

namespace {

using testsupport::Browser;
using testsupport::Json;
using testsupport::Page;
using testsupport::SiteServer;

class PeopleBrowserTest : public ::testing::Test {
 protected:
  std::unique_ptr<Page> SignedIn(const std::string& user, const std::string& password) {
    auto page = Browser::Shared().NewPage();
    testsupport::SignIn(*page, site, user, password);
    EXPECT_EQ(page->Path(), "/APP/Assignments/MyAssignments.asp") << user << " is not signed in";
    return page;
  }
  std::vector<std::string> Rows(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Rows(sql); }
  std::string Text(const std::string& sql) { return sitedb::Db(site.DatabaseFile()).Text(sql); }
  static void Set(Page& page, const std::string& selector, const std::string& value) {
    page.Evaluate("document.querySelector(" + Json(selector).dump() + ").value = " + Json(value).dump());
  }
  static std::string Value(Page& page, const std::string& selector) {
    return page.Evaluate("document.querySelector(" + Json(selector).dump() + ").value").get<std::string>();
  }
  static bool Checked(Page& page, const std::string& selector) {
    return page.Evaluate("document.querySelector(" + Json(selector).dump() + ").checked").get<bool>();
  }
  // The writer's sentence above the form ("" for none).
  static std::string Said(Page& page) {
    return page.Evaluate("document.getElementById('Message')?.innerText ?? ''").get<std::string>();
  }
  static Json Names(Page& page, const std::string& name) {
    return page.Evaluate("[...document.getElementsByName('" + name + "')].map(b => b.value)");
  }
  std::string EventLog() {
    std::ifstream in(site.Folder() / "events.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void NoScriptErrors(Page& page) {
    const auto errors = page.Exceptions();
    EXPECT_TRUE(errors.empty()) << errors.front();
  }

  SiteServer site;
};

TEST_F(PeopleBrowserTest, AnAdministratorsNewUserSignsInChangesHisPasswordAndSeesHisProjectsIssues) {
  auto admin = SignedIn("admin", "Secret1");
  admin->ClickAndWait("#LeftMenu a[href='/APP/Setup/Users.asp']");
  admin->ClickAndWait("#NewRecord");
  EXPECT_EQ(admin->Path(), "/APP/Setup/User.asp");
  admin->Type("#UserId", "Alice");
  admin->Type("#UserName", "Erin Ellis");
  admin->Type("#UserEMail", std::string(40, 'e') + "@example.com");
  admin->Type("#Password1", "first1");
  admin->Type("#Password2", "first1");
  admin->Click("input[name=GroupCode][value=Developers]");
  const size_t users = Rows("select UserId from Users").size();
  struct Refusal {
    std::string userId, email, sentence;
  };
  for (const Refusal& r : {Refusal{"Alice", "erin@example.com", "The user id 'Alice' already exists."},
                           Refusal{"erin", std::string(40, 'e') + "@example.com",
                                   "E-Mail cannot be longer than 50 characters."}}) {
    Set(*admin, "#UserId", r.userId);
    Set(*admin, "#UserEMail", r.email);
    Set(*admin, "#Password1", "first1");
    Set(*admin, "#Password2", "first1");
    admin->ClickAndWait("#cmdSave");
    EXPECT_EQ(Said(*admin), r.sentence);
    EXPECT_EQ(Value(*admin, "#UserName"), "Erin Ellis");
    EXPECT_TRUE(Checked(*admin, "input[name=GroupCode][value=Developers]"));
    EXPECT_EQ(Value(*admin, "#Password1"), "");
    EXPECT_EQ(Rows("select UserId from Users").size(), users);
  }
  Set(*admin, "#UserEMail", "erin@example.com");
  admin->Type("#Password1", "first1");
  admin->Type("#Password2", "first1");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(admin->Path(), "/APP/Setup/Users.asp");
  EXPECT_EQ(Names(*admin, "chkUser"), Json::parse(R"(["admin", "alice", "bob", "carol", "dave", "erin"])"));
  EXPECT_EQ(Rows("select UserName || '|' || UserEMail || '|' || SiteAdministrator || PublicUser || EMailEnabled,"
                 " Password <> 'first1' and Password <> '' from Users where UserId = 'erin'"),
            std::vector<std::string>{"Erin Ellis|erin@example.com|001|1"});
  EXPECT_EQ(Rows("select GroupCode from UserGroups where UserId = 'erin'"), std::vector<std::string>{"Developers"});

  // Made a member of the demo project.
  ASSERT_EQ(admin->Navigate(site.Url("/Setup/Project.asp?ProjectId=1")), 200);
  admin->Click("input[name=TeamMember][value=erin]");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(admin->Path(), "/APP/Setup/Projects.asp");
  EXPECT_EQ(Rows("select UserId from ProjectUsers where ProjectId = 1 order by UserId"),
            (std::vector<std::string>{"admin", "alice", "bob", "carol", "erin"}));

  // Erin signs in and changes his password; a mistyped repetition changes nothing.
  auto erin = SignedIn("erin", "first1");
  erin->ClickAndWait("#LeftMenu a[href='/APP/User/MyInfo.asp']");
  erin->Type("#Password1", "second2");
  erin->Type("#Password2", "second3");
  erin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*erin), "Passwords do not match.");
  EXPECT_EQ(Value(*erin, "#UserName"), "Erin Ellis");
  erin->Type("#Password1", "second2");
  erin->Type("#Password2", "second2");
  erin->ClickAndWait("#cmdSave");
  EXPECT_EQ(erin->Evaluate("location.pathname + location.search"), "/APP/User/MyInfo.asp?Saved=1");
  auto again = Browser::Shared().NewPage();
  testsupport::SignIn(*again, site, "erin", "first1");
  EXPECT_EQ(again->Evaluate("document.getElementById('Message').innerText"), "Invalid user id or password.");
  testsupport::SignIn(*again, site, "erin", "second2");
  EXPECT_EQ(again->Path(), "/APP/Assignments/MyAssignments.asp");

  // With all issues of the demo project as his default list, My Issues shows them.
  erin->ClickAndWait("#PersonalizeLink");
  Set(*erin, "#DefaultProject", "1");
  Set(*erin, "#DefaultFilter", "s:all");
  erin->ClickAndWait("#cmdSave");
  EXPECT_EQ(erin->Path(), "/APP/Assignments/MyAssignments.asp");
  Json issues = Json::array();
  for (const std::string& id : Rows("select IssueId from Issues where ProjectId = 1 order by IssueId"))
    issues.push_back(id);
  EXPECT_EQ(Names(*erin, "chkIssue"), issues);

  for (const std::string password : {"first1", "second2", "second3"})
    EXPECT_EQ(EventLog().find(password), std::string::npos) << password;
  NoScriptErrors(*admin);
  NoScriptErrors(*erin);
}

TEST_F(PeopleBrowserTest, AProjectIsCreatedWithMembersAndALeadChangedOnceAndDeleted) {
  // A project administrator administers his own projects; a member no project.
  auto alice = SignedIn("alice", "demo");
  ASSERT_EQ(alice->Navigate(site.Url("/Setup/Projects.asp")), 200);
  EXPECT_EQ(Names(*alice, "chkProject"), Json::array({"1"}));
  auto bob = SignedIn("bob", "demo");
  EXPECT_EQ(bob->Navigate(site.Url("/Setup/Projects.asp")), 403);
  EXPECT_EQ(bob->Evaluate("!!document.getElementById('LeftMenu')"), true);

  auto admin = SignedIn("admin", "Secret1");
  admin->Navigate(site.Url("/Setup/Projects.asp"));
  admin->ClickAndWait("#NewRecord");
  admin->Type("#ProjectCode", "Beta");
  admin->Click("input[name=TeamMember][value=bob]");
  admin->Click("input[name=ProjectAdmin][value=bob]");
  admin->Click("input[name=TeamMember][value=carol]");
  Set(*admin, "#GroupLead2", "alice");  // Developers
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*admin), "Description cannot be blank.");
  EXPECT_EQ(Value(*admin, "#ProjectCode"), "Beta");
  EXPECT_TRUE(Checked(*admin, "input[name=ProjectAdmin][value=bob]"));
  EXPECT_EQ(Value(*admin, "#GroupLead2"), "alice");
  EXPECT_EQ(Text("select count(*) from Projects"), "1");
  admin->Type("#ProjectDescription", "The second product");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(admin->Path(), "/APP/Setup/Projects.asp");
  const std::string beta = Text("select ProjectId from Projects where ProjectCode = 'Beta'");
  ASSERT_FALSE(beta.empty());
  EXPECT_EQ(Names(*admin, "chkProject"), Json::array({beta, "1"}));
  EXPECT_EQ(Rows("select UserId || '|' || ProjectAdministrator from ProjectUsers where ProjectId = " + beta +
                 " order by UserId"),
            (std::vector<std::string>{"bob|1", "carol|0"}));
  EXPECT_EQ(Rows("select UserId || '|' || GroupCode from ProjectGroupLeads where ProjectId = " + beta),
            std::vector<std::string>{"alice|Developers"});
  EXPECT_EQ(Rows("select ModuleCode from ProjectModules where ProjectId = " + beta), std::vector<std::string>{""});

  // Two administrators change it at once: the second save is refused and changes nothing.
  auto other = SignedIn("admin", "Secret1");
  const std::string edit = site.Url("/Setup/Project.asp?ProjectId=" + beta);
  admin->Navigate(edit);
  other->Navigate(edit);
  EXPECT_EQ(Value(*other, "#GroupLead2"), "alice");
  Set(*other, "#GroupLead2", "bob");
  other->ClickAndWait("#cmdSave");
  EXPECT_EQ(other->Path(), "/APP/Setup/Projects.asp");
  admin->Click("input[name=TeamMember][value=carol]");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*admin), "Another user has changed this project. You must cancel your changes.");
  EXPECT_EQ(Rows("select UserId || '|' || GroupCode from ProjectGroupLeads where ProjectId = " + beta),
            std::vector<std::string>{"bob|Developers"});
  EXPECT_EQ(Text("select count(*) from ProjectUsers where ProjectId = " + beta), "2");

  // The modules are the project's code table.
  admin->Navigate(edit);
  EXPECT_EQ(admin->Evaluate("document.getElementById('Modules').href"),
            site.Url("/Setup/ProjectModules.asp?ProjectId=" + beta));
  other->Navigate(site.Url("/Setup/ProjectModules.asp?ProjectId=" + beta));
  EXPECT_EQ(other->Evaluate("location.pathname + location.search"),
            "/APP/Setup/CustomCodes.asp?Table=ProjectModules&ProjectId=" + beta);

  admin->Navigate(site.Url("/Setup/Projects.asp"));
  admin->Click("input[name=chkProject][value='" + beta + "']");
  admin->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Names(*admin, "chkProject"), Json::array({"1"}));
  EXPECT_EQ(Text("select count(*) from ProjectUsers where ProjectId = " + beta), "0");
  NoScriptErrors(*admin);
}

TEST_F(PeopleBrowserTest, UsersAndGroupsAreForSiteAdministratorsWhoCannotLoseTheLastOne) {
  auto alice = SignedIn("alice", "demo");
  for (const char* path : {"/Setup/Users.asp", "/Setup/User.asp?UserId=bob", "/Setup/Groups.asp", "/Setup/Group.asp"}) {
    EXPECT_EQ(alice->Navigate(site.Url(path)), 403) << path;
    EXPECT_EQ(alice->Evaluate("document.getElementById('PageContent').innerText"),
              "You do not have permission to use this page.");
    EXPECT_EQ(alice->Evaluate("!!document.getElementById('LeftMenu')"), true);
  }

  auto admin = SignedIn("admin", "Secret1");
  admin->Navigate(site.Url("/Setup/Users.asp"));
  admin->Click("input[name=chkUser][value=admin]");
  admin->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Said(*admin), "The last site administrator cannot be deleted.");
  EXPECT_EQ(Text("select count(*) from Users where UserId = 'admin'"), "1");

  // Bob's page open twice: the second save is refused.
  auto other = SignedIn("admin", "Secret1");
  admin->Navigate(site.Url("/Setup/User.asp?UserId=bob"));
  other->Navigate(site.Url("/Setup/User.asp?UserId=bob"));
  Set(*other, "#UserName", "Robert Baker");
  other->ClickAndWait("#cmdSave");
  EXPECT_EQ(other->Path(), "/APP/Setup/Users.asp");
  Set(*admin, "#UserName", "Bobby Baker");
  admin->Click("input[name=GroupCode][value=Testers]");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*admin), "Another user has changed this user's information. You must cancel your changes.");
  EXPECT_EQ(Value(*admin, "#UserName"), "Bobby Baker");
  EXPECT_EQ(Text("select UserName from Users where UserId = 'bob'"), "Robert Baker");
  EXPECT_EQ(Rows("select GroupCode from UserGroups where UserId = 'bob'"), std::vector<std::string>{"Developers"});

  // A group is added once, shows its members, and goes.
  admin->ClickAndWait("#LeftMenu a[href='/APP/Setup/Groups.asp']");
  admin->ClickAndWait("#NewRecord");
  Set(*admin, "#GroupCode", "testers");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*admin), "The group 'testers' already exists.");
  EXPECT_EQ(Value(*admin, "#GroupCode"), "testers");
  Set(*admin, "#GroupCode", "Reviewers");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(Names(*admin, "chkGroup"), Json::parse(R"(["Customers", "Developers", "Reviewers", "Testers"])"));
  admin->Navigate(site.Url("/Setup/Group.asp?GroupCode=Developers"));
  EXPECT_EQ(admin->Evaluate("[...document.querySelectorAll('a.Member')].map(a => a.innerText)"),
            Json::parse(R"(["admin", "alice", "bob"])"));
  admin->Navigate(site.Url("/Setup/Groups.asp"));
  admin->Click("input[name=chkGroup][value=Reviewers]");
  admin->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Text("select count(*) from Groups"), "3");
  NoScriptErrors(*admin);
}

TEST_F(PeopleBrowserTest, AVisitorSignsUpWhileAProjectIsPublic) {
  auto visitor = Browser::Shared().NewPage();
  visitor->Navigate(site.Url("/Default.asp"));
  visitor->ClickAndWait("#SignUp");
  EXPECT_EQ(visitor->Path(), "/APP/User/SignUp.asp");
  visitor->Type("#UserId", "frank");
  visitor->Type("#UserName", "Frank Fisher");
  visitor->Type("#Password1", "pass1");
  visitor->Type("#Password2", "pass1");
  visitor->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*visitor), "A secret question is required.");
  EXPECT_EQ(Value(*visitor, "#UserName"), "Frank Fisher");
  EXPECT_EQ(Text("select count(*) from Users where UserId = 'frank'"), "0");
  visitor->Type("#Password1", "pass1");
  visitor->Type("#Password2", "pass1");
  visitor->Type("#SecretQuestion", "Colour?");
  visitor->Type("#SecretQuestionAnswer", "blue");
  visitor->ClickAndWait("#cmdSave");
  EXPECT_EQ(visitor->Path(), "/APP/Default.asp");
  EXPECT_EQ(Rows("select PublicUser || SiteAdministrator, SecretQuestionAnswer not in ('', 'blue') from Users"
                 " where UserId = 'frank'"),
            std::vector<std::string>{"10|1"});
  testsupport::SubmitSignIn(*visitor, "frank", "pass1");
  EXPECT_EQ(visitor->Path(), "/APP/Assignments/MyAssignments.asp");

  // Without a public project there is nothing to sign up for.
  sitedb::Db(site.DatabaseFile()).Exec("UPDATE Projects SET PublicAccessible = 0");
  auto late = Browser::Shared().NewPage();
  late->Navigate(site.Url("/Default.asp"));
  EXPECT_EQ(late->Evaluate("!!document.getElementById('SignUp')"), false);
  EXPECT_EQ(late->Navigate(site.Url("/User/SignUp.asp")), 403);
  NoScriptErrors(*visitor);
}

TEST_F(PeopleBrowserTest, AUserMakesALayoutKeepsHisLastOneAndSetsHisPageSizes) {
  auto bob = SignedIn("bob", "demo");
  bob->Navigate(site.Url("/User/Personalize.asp"));
  bob->ClickAndWait("#NewRecord");
  EXPECT_EQ(bob->Path(), "/APP/User/Layout.asp");
  for (const auto& [box, field] : {std::pair{"r0f0", "IssueId"}, std::pair{"r0f1", "Summary"}})
    bob->Evaluate(std::string("(() => { const b = document.getElementById('") + box + "'); b.value = '" + field +
                  "'; b.dispatchEvent(new Event('change')); })()");
  bob->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*bob), "Name cannot be blank.");
  EXPECT_EQ(bob->Evaluate("['r0f0', 'r0f1', 'r0f2'].map(id => document.getElementById(id).value)"),
            Json::parse(R"(["IssueId", "Summary", ""])"));
  bob->Type("#LayoutName", "Short");
  bob->ClickAndWait("#cmdSave");
  EXPECT_EQ(bob->Path(), "/APP/User/Personalize.asp");
  EXPECT_EQ(Rows("select RowNumber || '|' || DisplayOrder || '|' || FieldName from SummaryLayoutFields"
                 " where UserId = 'bob' and LayoutName = 'Short' order by RowNumber, DisplayOrder"),
            (std::vector<std::string>{"1|1|IssueId", "1|2|Summary"}));

  bob->Click("input[name=chkLayout][value=Default]");
  bob->Click("input[name=chkLayout][value=Short]");
  bob->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Said(*bob), "Cannot delete your last layout (at least one layout is required).");
  EXPECT_EQ(Text("select count(*) from SummaryLayouts where UserId = 'bob'"), "2");
  bob->Click("input[name=chkLayout][value=Short]");
  bob->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Names(*bob, "chkLayout"), Json::array({"Default"}));

  Set(*bob, "#ReleaseNotesNumIssues", "30");
  bob->ClickAndWait("#cmdSaveReleaseNotes");
  EXPECT_EQ(bob->Path(), "/APP/Reports/ReleaseNotes.asp");
  bob->Navigate(site.Url("/User/PersonalizeSearch.asp"));
  Set(*bob, "#SearchNumIssues", "many");
  bob->ClickAndWait("#cmdSave");
  EXPECT_EQ(Said(*bob), "Issues per page must be an integer number.");
  Set(*bob, "#SearchNumIssues", "50");
  bob->ClickAndWait("#cmdSave");
  EXPECT_EQ(bob->Path(), "/APP/Search/Search.asp");
  EXPECT_EQ(Text("select ReleaseNotesNumIssues || '|' || SearchNumIssues from Users where UserId = 'bob'"), "30|50");
  NoScriptErrors(*bob);
}

// Ids from an older site may hold "%" and blanks: each box posts its id URL-encoded, so "x%20y"
// and "x y" stay two users through the project's members, a reassignment and a delete.
TEST_F(PeopleBrowserTest, AUserIdHoldingAnEncodingGoesThroughItsPagesWhole) {
  sitedb::Db(site.DatabaseFile())
      .Exec("INSERT INTO Users (UserId, UserName, UserEMail, Password, SiteAdministrator, PublicUser) VALUES"
            " ('x%20y', 'Percent', '', '', 0, 0), ('x y', 'Blank', '', '', 0, 0);"
            "UPDATE ProjectUsers SET OverrideWorkflow = 1 WHERE UserId = 'admin'");
  auto admin = SignedIn("admin", "Secret1");
  admin->Navigate(site.Url("/Setup/Project.asp?ProjectId=1"));
  auto box = [&](const std::string& table, const std::string& text) {
    return admin
        ->Evaluate("[...document.querySelectorAll('#" + table + " tr')].find(r => [...r.cells].some(c => c.innerText" +
                   " === " + Json(text).dump() + ")).querySelector('input[type=checkbox]').value")
        .get<std::string>();
  };
  EXPECT_EQ(box("Members", "x%20y Percent"), "x%2520y");
  EXPECT_EQ(box("Members", "x y Blank"), "x%20y");
  admin->Click("input[name=TeamMember][value='x%2520y']");
  admin->ClickAndWait("#cmdSave");
  EXPECT_EQ(admin->Path(), "/APP/Setup/Projects.asp");
  EXPECT_EQ(Rows("select UserId from ProjectUsers where UserId like 'x%'"), std::vector<std::string>{"x%20y"});

  admin->Navigate(site.Url("/Assignments/MyAssignments.asp?Filter=s:allopen&ProjectId=1"));
  admin->Click("input[name=chkIssue][value='5']");
  admin->Evaluate("cmbResolution.value = 'New', cmbStatus.value = 'Open', cmbAssignedTo.value = 'x%20y'");
  admin->ClickAndWait("#cmdReassign");
  EXPECT_EQ(admin->Evaluate("String(document.getElementById('ReassignError')?.innerText)"), "undefined");
  EXPECT_EQ(Text("select AssignedToUser from Issues where IssueId = 5"), "x%20y");

  admin->Navigate(site.Url("/Setup/Users.asp"));
  EXPECT_EQ(box("Users", "x%20y"), "x%2520y");
  admin->Click("input[name=chkUser][value='x%20y']");
  admin->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Said(*admin), "");
  EXPECT_EQ(Rows("select UserId from Users where UserId like 'x%'"), std::vector<std::string>{"x%20y"});
  NoScriptErrors(*admin);
}

}  // namespace

// The outgoing e-mail, template and notification rule pages in Chromium: the administrator sets
// the site's mail up, sends a test message, writes a template and a rule for the demo project, and
// a change of an issue is queued and delivered by the real kesprin to an SMTP server on loopback.
// Who else may open which of these pages.
#include <spawn.h>
#include <sys/wait.h>

#include "registry/registry.h"
#include "support/mime.h"
#include "support/smtp_server.h"
#include "system_site.h"

extern char** environ;

namespace systemtest {
namespace {

class EMailBrowserTest : public SystemSite {
 protected:
  // The sender as the service starts it: the site's registered connection string as its command line.
  void RunSender(const std::string& connection) {
    std::vector<std::string> args{"kesprin", connection};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, KESPRIN_PATH, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  void Save() { page->ClickAndWait("#cmdSave"); }

  testsupport::SmtpServer smtp{{.user = "mailer", .password = "pw-Kept-Back", .lowPort = true}};
};

TEST_F(EMailBrowserTest, TheAdministratorSetsUpMailAndAChangedIssueIsDelivered) {
  testsupport::SignIn(*page, site, "admin", "Secret1");
  ASSERT_EQ(page->Navigate(site.Url("/Setup/SiteEMailServer.asp")), 200);
  EXPECT_EQ(Eval("document.getElementsByName('WebsiteURL')[0].value"), site.Base() + "/");
  SetChecked("EMailEnabled", true);
  SetValue("SmtpHost", smtp.Host());
  SetValue("SmtpPort", "70000");
  SetValue("SmtpUserId", "mailer");
  page->Type("#SmtpPassword", "pw-Kept-Back");
  SetValue("FromEMailAddress", "tracker@example.com");
  SetValue("DeliveryFrequency", "5");
  Save();
  EXPECT_EQ(Text("Message"), "Port must be a number from 0 to 32767.");
  EXPECT_EQ(Eval("document.getElementsByName('SmtpHost')[0].value"), smtp.Host());
  EXPECT_EQ(Sql("select EMailEnabled || SmtpHost from EMailConfiguration"), "0");

  SetValue("SmtpPort", std::to_string(smtp.Port()));
  page->Type("#SmtpPassword", "pw-Kept-Back");
  Save();
  EXPECT_EQ(page->Path(), "/APP/Setup/SiteEMailServer.asp");
  EXPECT_EQ(Text("Message"), "");
  EXPECT_EQ(Sql("select EMailEnabled || '|' || SmtpHost || '|' || SmtpPassword || '|' || DeliveryFrequency from "
                "EMailConfiguration"),
            "1|127.0.0.1|pw-Kept-Back|5");
  EXPECT_EQ(page->Evaluate("[document.getElementById('SmtpPassword').value,"
                           " document.documentElement.outerHTML.includes('pw-Kept-Back')]"),
            Json::parse("[\"\", false]"));
  const auto registered = registry::ReadValue(registry::kDatabasesKey, "site");
  ASSERT_TRUE(registered);
  EXPECT_EQ(*registered, "File name=" + (site.Folder() / "DbConnection.udl").string());
  EXPECT_EQ(registry::ReadValue(registry::kVantrelKey, "EMailSchedule"), "5");

  // A test message with the stored settings, its dialogue on the page without the password.
  page->ClickAndWait("#TestLink");
  SetValue("ToEMail", "ops@example.com");
  Save();
  ASSERT_TRUE(smtp.WaitForMessages(1));
  EXPECT_EQ(smtp.Messages()[0].recipients, std::vector<std::string>{"ops@example.com"});
  EXPECT_EQ(smtp.Messages()[0].user, "mailer");
  EXPECT_NE(Text("TestResults").find("250 "), std::string::npos) << Text("TestResults");
  EXPECT_EQ(page->BodyText().find("pw-Kept-Back"), std::string::npos);

  // A template, and a template in use is kept with the writer's sentence.
  page->Navigate(site.Url("/Setup/EMailTemplates.asp"));
  // A stored template shows each part's text and is changed through the row it was read as.
  page->ClickAndWait("#Templates a");
  EXPECT_EQ(Eval("document.getElementById('PartContent1').value"),
            "The following issue has been assigned to you:\n[IssueUrl]\n\n--\nDo not reply to this email.");
  SetValue("Subject", "You've been given issue [IssueId].");
  Save();
  EXPECT_EQ(Sql("select Subject from EMailTemplates where TemplateName = 'Assignment Notice'"),
            "You've been given issue [IssueId].");
  page->ClickAndWait("#NewRecord");
  SetValue("TemplateName", "Update Notice");
  SetValue("Subject", "Issue [IssueId] changed");
  // One text per part of the format, in the format's order.
  EXPECT_EQ(page->Evaluate("[...document.getElementsByName('PartType')].map(p => p.value)"),
            Json::parse(R"(["Text", "HTML"])"));
  page->Evaluate("document.getElementById('PartContent1').value = '[IssueUrl] was changed.'");
  page->Evaluate("document.getElementById('PartContent2').value = '<p>[IssueId] was changed.</p>'");
  Save();
  EXPECT_EQ(page->Path(), "/APP/Setup/EMailTemplates.asp");
  EXPECT_EQ(sitedb::Db(site.DatabaseFile())
                .Rows("select PartName, PartContent from EMailTemplateParts where TemplateName = 'Update Notice' "
                      "order by PartName"),
            (std::vector<std::string>{"HTML|<p>[IssueId] was changed.</p>", "Text|[IssueUrl] was changed."}));

  // A rule of the demo project: a blank name is refused, then the rule is stored.
  page->Navigate(site.Url("/Setup/EMailNotifications.asp?ProjectId=1"));
  page->ClickAndWait("#NewRecord");
  SetValue("NotificationEventType", "3");
  SetValue("RecipientType", "5");
  SetValue("RecipientAddress2", "someone@example.com");
  SetValue("TemplateName", "Update Notice");
  Save();
  EXPECT_EQ(Text("Message"), "Rule name cannot be blank.");
  EXPECT_EQ(Eval("document.getElementsByName('RecipientAddress2')[0].value"), "someone@example.com");
  SetValue("NotificationRuleName", "Watch changes");
  Save();
  // Changed through the row it was read as.
  page->ClickAndWait("#Rules a");
  EXPECT_EQ(Eval("document.getElementsByName('TemplateName')[0].value"), "Update Notice");
  SetValue("RecipientAddress2", "watcher@example.com");
  Save();
  EXPECT_EQ(page->Evaluate("location.pathname + location.search"), "/APP/Setup/EMailNotifications.asp?ProjectId=1");
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#Rules tr:nth-child(2) td')].map(c => c.innerText)"),
            Json::parse(R"(["", "Watch changes", "Issue updated", "watcher@example.com", "Update Notice", "Yes"])"));

  page->Navigate(site.Url("/Setup/EMailTemplates.asp"));
  page->Click("input[name=chkEMailTemplate][value='Update%20Notice']");
  page->ClickAndWait("#cmdDelete");
  EXPECT_EQ(Text("Message"),
            "At least one notification rule or pending notification uses the 'Update Notice' template. The template "
            "could not be deleted.");

  // A changed issue queues the rule's message; the sender delivers it.
  page->Navigate(site.Url("/Issues/Issue.asp?IssueId=1"));
  page->Type("#Comments", "Looked into it.");
  page->ClickAndWait("#Save");
  EXPECT_EQ(Sql("select EMailAddress || '|' || IssueId || '|' || StatusCode from EMailNotifications"),
            "watcher@example.com|1|Pending");
  RunSender(*registered);
  ASSERT_TRUE(smtp.WaitForMessages(2));
  const testsupport::ReceivedMail mail = smtp.Messages()[1];
  EXPECT_EQ(mail.recipients, std::vector<std::string>{"watcher@example.com"});
  EXPECT_EQ(testsupport::mime::Parse(mail.data).DecodedHeader("Subject"), "Issue 1 changed");
  page->Navigate(site.Url("/Setup/EMailServer.asp"));
  EXPECT_EQ(page->Evaluate("[...document.querySelectorAll('#NotificationLog tr:nth-child(2) td')].slice(1, 5)"
                           ".map(c => c.innerText)"),
            Json::parse(R"(["watcher@example.com", "1", "Update Notice", "Sent"])"));
  EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
}

// Site administrators keep the site's pages; a project's administrators its rules only.
TEST_F(EMailBrowserTest, OthersAreRefused) {
  struct Case {
    std::string user, path;
    int status;
  };
  const std::vector<Case> cases{
      {"alice", "/Setup/EMailNotifications.asp?ProjectId=1", 200},
      {"alice", "/Setup/EMailNotification.asp?ProjectId=1", 200},
      {"alice", "/Setup/EMailNotifications.asp?ProjectId=-1", 403},
      {"alice", "/Setup/SiteEMailServer.asp", 403},
      {"alice", "/Setup/EMailServer.asp", 403},
      {"alice", "/Setup/EMailTemplates.asp", 403},
      {"alice", "/Setup/EMailTemplate.asp?TemplateName=Assignment%20Notice", 403},
      {"alice", "/Setup/SiteBackup.asp", 403},
      {"alice", "/Setup/SiteRestore.asp", 403},
      {"bob", "/Setup/EMailNotifications.asp", 403},
      {"bob", "/Setup/EMailNotification.asp?NotificationRuleId=13", 403},
  };
  std::string signedIn;
  for (const Case& c : cases) {
    if (c.user != signedIn) {
      page = testsupport::Browser::Shared().NewPage();
      testsupport::SignIn(*page, site, c.user, "demo");
      signedIn = c.user;
    }
    EXPECT_EQ(page->Navigate(site.Url(c.path)), c.status) << c.user << " " << c.path;
  }
  // What the menu offers a project administrator: the rules of the project, not the site's.
  page = testsupport::Browser::Shared().NewPage();
  testsupport::SignIn(*page, site, "alice", "demo");
  page->Navigate(site.Url("/Setup/EMailNotifications.asp"));
  EXPECT_EQ(Eval("document.getElementsByName('ProjectId')[0].value"), "1");
  EXPECT_EQ(page->Evaluate("[...document.getElementsByName('ProjectId')[0].options].map(o => o.value)"),
            Json::parse(R"(["1"])"));
}

}  // namespace
}  // namespace systemtest

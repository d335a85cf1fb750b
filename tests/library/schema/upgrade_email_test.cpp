// An upgraded 1.00 site sends mail: the e-mail writers and the sender work on the tables and
// rows the 1.10 and 1.11 steps made, against an SMTP server on loopback.
#include <gtest/gtest.h>

#include <map>

#include "automation/automation.h"
#include "core/database.h"
#include "core/multipart.h"
#include "eventlog/eventlog.h"
#include "registry/registry.h"
#include "support/site_db.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"
#include "upgrade_fixture.h"

namespace {

using automation::Variant;

std::shared_ptr<automation::Object> Form(const std::map<std::string, std::string>& fields) {
  auto form = std::make_shared<brisquel::MultipartFormData>();
  for (const auto& [k, v] : fields) form->Fields()->Add(k, v);
  return form;
}

class UpgradedMail : public ::testing::Test {
 protected:
  UpgradedMail() {
    upgradefixture::Create(file);
    db->Call("UpgradeDatabase");
    // The first release's users become administrators through the user pages; here directly.
    sitedb::Db(file).Exec("update Users set SiteAdministrator = 1 where UserId = 'olduser'");
  }
  ~UpgradedMail() override { eventlog::SetSink(nullptr); }

  testsupport::TempDir dir;
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  std::filesystem::path file = dir / "old.db";
  std::shared_ptr<brisquel::Database> db = sitedb::Open(file);
  testsupport::SmtpServer server;
};

TEST_F(UpgradedMail, SettingsRulesAndSendingWork) {
  auto rs = db->Call("GetEMailConfigRs").ToObject();
  Variant saved = db->Call(
      "UpdateEMailConfig",
      {Variant("olduser"), Variant(dir.path().string()), Variant(rs),
       Variant(Form({{"EMailEnabled", "1"}, {"SmtpHost", server.Host()}, {"SmtpPort", "25"},
                     {"SmtpUserId", ""}, {"SmtpPassword", ""}, {"WebsiteURL", "http://tracker.example.com"},
                     {"SendTimeout", "5"}, {"MaximumDeliveryAttempts", "3"}, {"DeliveryFrequency", "1"},
                     {"FromEMailAddress", "tracker@example.com"}}))});
  ASSERT_TRUE(saved.ToBool()) << db->LastErrorMessage();
  sitedb::Db raw(file);
  // The settings form takes 16-bit ports; the loopback server's may be higher.
  raw.Exec("update EMailConfiguration set ServerLoginRequired = 0, SmtpPort = " + std::to_string(server.Port()));

  Variant created = db->Call(
      "CreateNotificationRule",
      {Variant("olduser"), Variant(Form({{"ProjectId", "-1"}, {"NotificationRuleName", "Tell the lead"},
                                          {"Active", "on"}, {"TemplateName", "Assignment Notice"},
                                          {"NotificationEventType", "3"}, {"ActionId", "-1"}, {"RecipientType", "5"},
                                          {"RecipientAddress1", ""}, {"RecipientAddress2", "lead@example.com"}}))});
  ASSERT_TRUE(created.ToBool()) << db->LastErrorMessage();
  EXPECT_EQ(raw.Int("select count(*) from EMailNotificationRules"), 2);

  raw.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) "
           "values ('old@example.com', 1, 'Assignment Notice')");
  db->Call("SendNotifications");
  ASSERT_TRUE(server.WaitForMessages(1));
  auto mail = server.Messages().front();
  EXPECT_EQ(mail.recipients, std::vector<std::string>{"old@example.com"});
  EXPECT_NE(mail.data.find("You've been assigned issue 1."), std::string::npos) << mail.data;
  EXPECT_EQ(raw.Text("select trim(StatusCode) from EMailNotifications"), "Sent");
}

}  // namespace

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mail_site.h"

namespace brisquel::mailtest {
namespace {

using automation::Variant;

class EMailConfigTest : public MailSite {
 protected:
  // A complete, valid settings form; `changes` replace or add fields.
  std::shared_ptr<MultipartFormData> Settings(const std::map<std::string, std::string>& changes = {}) {
    std::map<std::string, std::string> f = {
        {"EMailEnabled", "1"},          {"SmtpHost", "mail.example.com"}, {"SmtpPort", "587"},
        {"SmtpUserId", "mailer"},       {"SmtpPassword", "s3cret"},       {"WebsiteURL", "http://tracker.example.com"},
        {"SendTimeout", "20"},          {"MaximumDeliveryAttempts", "4"}, {"DeliveryFrequency", "15"},
        {"FromEMailAddress", "tracker@example.com"}};
    for (const auto& [k, v] : changes) f[k] = v;
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [k, v] : f) form->Fields()->Add(k, v);
    return form;
  }
  bool Save(const std::string& user, const std::shared_ptr<MultipartFormData>& form) {
    return UpdateEMailConfig(*db, user, dir.path().string(), GetEMailConfigRs(*db), form);
  }
  std::string Stored(const std::string& column) {
    return raw.Text("select " + column + " from EMailConfiguration where EMailConfigurationId = 1");
  }
  std::string StoredRow() {
    return raw.Rows(
        "select EMailEnabled, SmtpHost, SmtpPort, SmtpUserId, SmtpPassword, WebSiteURL, SendTimeout, "
        "MaximumDeliveryAttempts, DeliveryFrequency, FromEMailAddress, ServerLoginRequired from EMailConfiguration")[0];
  }
};

TEST_F(EMailConfigTest, EachCheckHasItsMessageInOrderAndWritesNothing) {
  const std::string s51(51, 'x');
  const std::string s101(101, 'x');
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"SmtpHost", ""}}, "SMTP E-Mail server name cannot be blank."},
      {{{"SmtpHost", "   "}}, "SMTP E-Mail server name cannot be blank."},
      {{{"SmtpHost", s51}}, "SMTP E-Mail server name cannot be longer than 50 characters."},
      {{{"SmtpPort", "-1"}}, "Port must be a number from 0 to 32767."},
      {{{"SmtpPort", "40000"}}, "Port must be a number from 0 to 32767."},
      {{{"SmtpPort", "twenty"}}, "Port must be a number from 0 to 32767."},
      {{{"SmtpUserId", s51}}, "User id cannot be longer than 50 characters."},
      {{{"SmtpPassword", s51}}, "Password cannot be longer than 50 characters."},
      {{{"WebsiteURL", ""}}, "Website URL cannot be blank."},
      {{{"WebsiteURL", s101}}, "Website URL cannot be longer than 100 characters."},
      {{{"SendTimeout", "-5"}}, "Delivery timeout must be a number from 0 to 32767."},
      {{{"MaximumDeliveryAttempts", "many"}}, "Delivery attempts must be a number from 0 to 32767."},
      {{{"DeliveryFrequency", "often"}}, "Delivery frequency must be a number from 1 to 32767."},
      {{{"DeliveryFrequency", "40000"}}, "Delivery frequency must be a number from 1 to 32767."},
      {{{"DeliveryFrequency", "7"}}, "Delivery frequency must be 1, 5, 10, 15, 30 or 60."},
      {{{"DeliveryFrequency", "0"}}, "Delivery frequency must be 1, 5, 10, 15, 30 or 60."},
      {{{"FromEMailAddress", s51}}, "From address cannot be longer than 50 characters."},
      // A line break would end the SMTP command or the header early when the mail is sent.
      {{{"SmtpHost", "mail\r\nQUIT"}}, "SMTP E-Mail server name cannot contain a line break."},
      {{{"SmtpUserId", "mailer\nx"}}, "User id cannot contain a line break."},
      {{{"WebsiteURL", "http://a\r\nb"}}, "Website URL cannot contain a line break."},
      {{{"FromEMailAddress", "a@example.com\r\nBcc: b@example.com"}}, "From address cannot contain a line break."},
      // The first failing check decides.
      {{{"SmtpHost", ""}, {"SmtpPort", "x"}, {"DeliveryFrequency", "7"}}, "SMTP E-Mail server name cannot be blank."},
      {{{"WebsiteURL", ""}, {"DeliveryFrequency", "7"}}, "Website URL cannot be blank."},
  };
  const std::string before = StoredRow();
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Save("admin", Settings(changes))) << message;
    EXPECT_EQ(db->LastErrorMessage(), message);
  }
  EXPECT_EQ(StoredRow(), before);
  EXPECT_FALSE(RegistryWritten());
}

TEST_F(EMailConfigTest, LimitsCountCharactersAndBoundaryValuesPass) {
  const std::string host50 = [] {
    std::string s;
    for (int i = 0; i < 50; ++i) s += "\xC3\xA9";  // 50 characters, 100 bytes
    return s;
  }();
  ASSERT_TRUE(Save("admin", Settings({{"SmtpHost", host50}, {"SmtpPort", "0"}, {"SendTimeout", "32767"},
                                      {"MaximumDeliveryAttempts", "0"}, {"DeliveryFrequency", "60"},
                                      {"WebsiteURL", std::string(100, 'u')}})))
      << db->LastErrorMessage();
  EXPECT_EQ(Stored("SmtpHost"), host50);
  EXPECT_EQ(Stored("SmtpPort"), "0");
  EXPECT_EQ(Stored("SendTimeout"), "32767");
  EXPECT_EQ(Stored("DeliveryFrequency"), "60");
}

TEST_F(EMailConfigTest, EnabledSaveStoresEverySettingTrimmed) {
  ASSERT_TRUE(Save("admin", Settings({{"EMailEnabled", "  1 "}, {"SmtpHost", "  smtp.example.org  "}})))
      << db->LastErrorMessage();
  EXPECT_EQ(db->LastErrorMessage(), "");
  EXPECT_EQ(StoredRow(), "1|smtp.example.org|587|mailer|s3cret|http://tracker.example.com|20|4|15|tracker@example.com|1");
  // The site record's address is a separate copy.
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "");
}

TEST_F(EMailConfigTest, SwitchingOffKeepsEveryOtherSettingAndChecksNothing) {
  ASSERT_TRUE(Save("admin", Settings()));
  const std::string on = StoredRow();
  for (const char* value : {"on", "0", "", "true", "11"}) {
    ASSERT_TRUE(Save("admin", Settings({{"EMailEnabled", value}, {"SmtpHost", ""}, {"SmtpPort", "x"},
                                        {"DeliveryFrequency", "7"}, {"SmtpPassword", ""}, {"SmtpUserId", ""}})))
        << value << ": " << db->LastErrorMessage();
    EXPECT_EQ(StoredRow(), "0" + on.substr(1)) << value;
  }
  // Not posted at all: off as well.
  ASSERT_TRUE(Save("admin", Form({{"SmtpHost", "ignored"}})));
  EXPECT_EQ(Stored("EMailEnabled"), "0");
  EXPECT_EQ(Stored("SmtpHost"), "mail.example.com");
}

TEST_F(EMailConfigTest, LoginRequiredFollowsUserIdOrPassword) {
  ASSERT_TRUE(Save("admin", Settings({{"SmtpUserId", ""}, {"SmtpPassword", "only-a-password"}})));
  EXPECT_EQ(Stored("ServerLoginRequired"), "1");
  ASSERT_TRUE(Save("admin", Settings({{"SmtpUserId", "someone"}, {"SmtpPassword", ""}})));
  EXPECT_EQ(Stored("ServerLoginRequired"), "1");
  ASSERT_TRUE(Save("admin", Settings({{"SmtpUserId", ""}, {"SmtpPassword", ""}})));
  EXPECT_EQ(Stored("ServerLoginRequired"), "0");
}

TEST_F(EMailConfigTest, PasswordIsWriteOnly) {
  ASSERT_TRUE(Save("admin", Settings({{"SmtpPassword", "first-secret"}})));
  EXPECT_EQ(Stored("SmtpPassword"), "first-secret");
  // No reader hands it out, by name or directly; the sender's own accessor does.
  auto rs = GetEMailConfigRs(*db);
  EXPECT_EQ(rs->Value("SmtpPassword").ToString(), "");
  auto byName = db->Call("GetEMailConfigRs").ToObject();
  EXPECT_EQ(byName->Get("Fields", {Variant("SmtpPassword")}).ToObject()->Get("Value").ToString(), "");
  EXPECT_THROW(db->Call("GetSmtpPassword"), automation::ComError);
  EXPECT_EQ(GetSmtpPassword(*db), "first-secret");

  // A blank password keeps the stored one while there is a user id.
  ASSERT_TRUE(Save("admin", Settings({{"SmtpPassword", ""}, {"SmtpHost", "other.example.com"}})));
  EXPECT_EQ(Stored("SmtpPassword"), "first-secret");
  EXPECT_EQ(Stored("SmtpHost"), "other.example.com");
  // A new one replaces it.
  ASSERT_TRUE(Save("admin", Settings({{"SmtpPassword", "second-secret"}})));
  EXPECT_EQ(Stored("SmtpPassword"), "second-secret");
  // Switching off keeps it.
  ASSERT_TRUE(Save("admin", Settings({{"EMailEnabled", "0"}, {"SmtpPassword", ""}})));
  EXPECT_EQ(Stored("SmtpPassword"), "second-secret");
  // No user id and no password: no login, nothing kept.
  ASSERT_TRUE(Save("admin", Settings({{"SmtpUserId", ""}, {"SmtpPassword", ""}})));
  EXPECT_EQ(Stored("SmtpPassword"), "");
}

TEST_F(EMailConfigTest, ChangedRowIsRefusedAndRegistryUntouched) {
  auto mine = GetEMailConfigRs(*db);
  auto theirs = GetEMailConfigRs(*db);
  ASSERT_TRUE(UpdateEMailConfig(*db, "admin", dir.path().string(), theirs, Settings({{"SmtpHost", "theirs"}})));
  registry::DeleteKey(registry::kVantrelKey);
  EXPECT_FALSE(UpdateEMailConfig(*db, "admin", dir.path().string(), mine,
                                 Settings({{"SmtpHost", "mine"}, {"SmtpPassword", "mine"}, {"DeliveryFrequency", "60"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Another session has changed this information. You must cancel your changes.");
  EXPECT_EQ(Stored("SmtpHost"), "theirs");
  EXPECT_EQ(Stored("SmtpPassword"), "s3cret");
  EXPECT_FALSE(Schedule().has_value());
  EXPECT_FALSE(Registered("Issues").has_value());
  // Read again, the save goes through.
  ASSERT_TRUE(Save("admin", Settings({{"SmtpHost", "mine"}})));
  EXPECT_EQ(Stored("SmtpHost"), "mine");
}

TEST_F(EMailConfigTest, OnlySiteAdministratorsChangeSettingsOrSiteAddress) {
  const std::string before = StoredRow();
  for (const std::string user : {"alice", "bob", "nobody", ""}) {
    EXPECT_FALSE(Save(user, Settings())) << user;
    EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
    EXPECT_FALSE(SetWebsiteURL(*db, "http://evil.example.com", user));
    EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  }
  EXPECT_EQ(StoredRow(), before);
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "");
  EXPECT_FALSE(RegistryWritten());
  // By name without a user id: refused too.
  EXPECT_FALSE(db->Call("SetWebsiteURL", {Variant("http://x")}).ToBool());
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "");
}

TEST_F(EMailConfigTest, SiteAddressCopiesAreIndependent) {
  ASSERT_TRUE(SetWebsiteURL(*db, "http://site.example.com/", "admin"));
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "http://site.example.com/");
  EXPECT_EQ(GetVantrelSiteRs(*db)->Value("WebSiteURL").ToString(), "http://site.example.com/");
  EXPECT_EQ(Stored("WebSiteURL"), "");
  ASSERT_TRUE(Save("admin", Settings({{"WebsiteURL", "http://mail-links.example.com"}})));
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "http://site.example.com/");
  EXPECT_EQ(Stored("WebSiteURL"), "http://mail-links.example.com");
  // Too long is refused, not cut.
  EXPECT_FALSE(SetWebsiteURL(*db, std::string(101, 'u'), "admin"));
  EXPECT_EQ(db->LastErrorMessage(), "Website URL cannot be longer than 100 characters.");
  EXPECT_FALSE(SetWebsiteURL(*db, "http://a\nb", "admin"));
  EXPECT_EQ(raw.Text("select WebSiteURL from VantrelSite"), "http://site.example.com/");
}

TEST_F(EMailConfigTest, CallableByNameWithThePagesObjects) {
  auto rs = db->Call("GetEMailConfigRs").ToObject();
  Variant ok = db->Call("UpdateEMailConfig", {Variant("admin"), Variant(dir.path().string()), Variant(rs),
                                              Variant(std::static_pointer_cast<automation::Object>(Settings()))});
  EXPECT_TRUE(ok.ToBool()) << db->LastErrorMessage();
  EXPECT_EQ(Stored("SmtpHost"), "mail.example.com");
  // A recordset of another table is not taken for the configuration.
  auto other = GetEMailTemplatesRs(*db, "admin");
  EXPECT_THROW(UpdateEMailConfig(*db, "admin", dir.path().string(), other, Settings()), automation::ComError);
}

TEST_F(EMailConfigTest, ListReaders) {
  auto freq = GetEMailDeliveryFrequencyRs(*db);
  std::vector<std::string> names;
  for (; !freq->IsEOF(); freq->MoveNext()) names.push_back(freq->Value("FrequencyName").ToString());
  EXPECT_EQ(names, (std::vector<std::string>{"Every minute", "Every 5 minutes", "Every 10 minutes", "Every 15 minutes",
                                             "Every 30 minutes", "Every 60 minutes"}));

  raw.Exec(
      "insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values "
      "('a@example.com', 1, 'Assignment Notice'), ('b@example.com', 1, 'Assignment Notice')");
  auto log = GetEMailNotificationsLogRs(*db);
  EXPECT_EQ(log->Value("EMailAddress").ToString(), "b@example.com");
  EXPECT_EQ(log->RecordCount(), 2);

  auto parts = GetTemplateTypePartsRs(*db, "html");
  ASSERT_EQ(parts->RecordCount(), 2);
  EXPECT_EQ(parts->Value("PartName").ToString(), "Text");
  EXPECT_EQ(GetEMailTemplateTypePartsRs(*db, "admin", "HTML")->RecordCount(), 2);
  EXPECT_EQ(GetTemplateTypeHeadersRs(*db, "HTML")->RecordCount(), 4);
  EXPECT_EQ(GetEMailTemplateTypeRs(*db, "HTML")->Value("MultipartContentTypeSubtype").ToString(), "alternative");
  EXPECT_EQ(GetEMailTemplateTypesRs(*db, "admin")->RecordCount(), 1);
  EXPECT_TRUE(GetEMailTemplateTypePartHeadersRs(*db, "HTML", "Text")->IsEOF());
  EXPECT_EQ(GetEMailTemplatePartRs(*db, "Assignment Notice", "HTML", "Text")->Value("PartContent").ToString().substr(0, 21),
            "The following issue h");
  EXPECT_EQ(GetEMailTemplateRs(*db, "assignment notice")->Value("Subject").ToString(),
            "You've been assigned issue [IssueId].");
  EXPECT_TRUE(GetEMailTemplateRs(*db, "none")->IsEOF());
  auto fields = GetIssueTextFieldsRs(*db, "admin");
  EXPECT_FALSE(fields->IsEOF());
}

TEST_F(EMailConfigTest, RuleListKeepsRulesWithoutActionAndDescribesTransitions) {
  raw.Exec(
      "insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, NotificationEventType, "
      "WorkflowId, ActionId, RecipientType, RecipientAddress, TemplateName) values "
      "(-1, 'Fixed issues', 1, 4, 1, 3, 4, 'Summary', 'Assignment Notice'), "
      "(-1, 'Reassigned', 0, 4, 1, 2, 5, 'lead@example.com', 'Assignment Notice'), "
      "(1, 'Demo only', 1, 1, 1, 0, 2, '', 'Assignment Notice'), "
      "(-1, 'Unknown action', 1, 4, 1, -1, 1, '', 'Assignment Notice')");
  auto rs = GetEMailNotificationsRs(*db, "admin", -1);
  std::vector<std::string> rows;
  for (; !rs->IsEOF(); rs->MoveNext())
    rows.push_back(rs->Value("NotificationRuleName").ToString() + "|" + rs->Value("NotificationEvent").ToString() +
                   "|" + rs->Value("NotificationRecipient").ToString());
  EXPECT_EQ(rows, (std::vector<std::string>{"Fixed issues|Workflow action: Fix (New to Fixed)|Issue field Summary",
                                            "Issue assigned to user|Issue assigned to user|Assignee",
                                            "Reassigned|Workflow action: New to New|lead@example.com",
                                            "Unknown action|Workflow action: |Assignee"}));
  auto demo = GetEMailNotificationsRs(*db, "admin", 1);
  ASSERT_EQ(demo->RecordCount(), 1);
  EXPECT_EQ(demo->Value("NotificationEvent").ToString(), "Issue created");
  EXPECT_EQ(demo->Value("NotificationRecipient").ToString(), "Creator");

  auto t = GetEMailWorkflowTransitionsRs(*db, "admin", -1);
  std::vector<std::string> names;
  for (; !t->IsEOF(); t->MoveNext()) names.push_back(t->Value("TransitionName").ToString());
  // Not the create action (from the create state) and not the reassignments within a state.
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Duplicate (from 'New' to 'Duplicate - Closed')", "Fix (from 'New' to 'Fixed')",
                       "Not reproducible (from 'New' to 'Not reproducible - Closed')",
                       "Reject fix (from 'Fixed' to 'New')", "Reopen (from 'Duplicate - Closed' to 'New')",
                       "Reopen (from 'Fixed - Closed' to 'New')", "Reopen (from 'Not reproducible - Closed' to 'New')",
                       "Reopen (from 'Will not fix - Closed' to 'New')", "Verify (from 'Fixed' to 'Fixed - Closed')",
                       "Will not fix (from 'New' to 'Will not fix - Closed')"}));
  EXPECT_EQ(GetEMailWorkflowTransitionsRs(*db, "admin", 1)->RecordCount(), 10);
  EXPECT_EQ(GetEMailWorkflowTransitionsRs(*db, "admin", 99)->RecordCount(), 0);
}

}  // namespace
}  // namespace brisquel::mailtest

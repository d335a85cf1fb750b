// Sending the pending notifications to a real SMTP server on loopback: passes, attempts, 'Sent'
// and 'Failed', the stored failure texts, the purge and the trace.
#include <gtest/gtest.h>

#include <algorithm>

#include "automation/automation.h"
#include "core/buffer.h"
#include "core/database.h"
#include "eventlog/eventlog.h"
#include "notifications/notifications.h"
#include "loopback_mail.h"
#include "registry/registry.h"
#include "support/mime.h"
#include "support/site_db.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace {

using brisquel::Database;
using brisquel::Notifications;
using testsupport::SmtpServer;
namespace mime = testsupport::mime;

constexpr const char* kUser = "mailer";
constexpr const char* kPassword = "S3cret-pass";

class Sending : public ::testing::Test {
 protected:
  explicit Sending(SmtpServer::Options options = {}) : server(options), file(sitedb::FreshSite(true)), sql(file) {
    registry::WriteValue(registry::kVantrelKey, "LogDetailLevel", "1");
    Configure(server.Port());
    db = sitedb::Open(file);
    events = eventlog::CaptureInMemory();
  }
  ~Sending() override { eventlog::SetSink(nullptr); }

  void Configure(int port, int maxAttempts = 3) {
    sql.Exec("update EMailConfiguration set EMailEnabled = 1, " + loopbackmail::ServerColumns(port) +
             ", ServerLoginRequired = 0, MaximumDeliveryAttempts = " + std::to_string(maxAttempts) +
             ", WebSiteURL = 'http://tracker.example.com'");
  }

  int Pending(const std::string& address, int issueId = 5, const std::string& templateName = "Assignment Notice") {
    sql.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values ('" + address + "', " +
             std::to_string(issueId) + ", '" + templateName + "')");
    return static_cast<int>(sql.Int("select max(EMailNotificationId) from EMailNotifications"));
  }
  // "Status|attempts" of one row ("" when it is gone).
  std::string State(int id) {
    return sql.Text("select trim(StatusCode) || '|' || DeliveryAttempts from EMailNotifications "
                    "where EMailNotificationId = " + std::to_string(id));
  }
  std::string Column(int id, const std::string& column) {
    return sql.Text("select " + column + " from EMailNotifications where EMailNotificationId = " + std::to_string(id));
  }
  size_t Traced(const std::string& text) const {
    size_t n = 0;
    for (const auto& t : events->Texts())
      if (t.find(text) != std::string::npos) ++n;
    return n;
  }
  size_t Commands(const std::string& command) const {
    auto all = server.Commands();
    return static_cast<size_t>(std::count(all.begin(), all.end(), command));
  }

  testsupport::TempDir dir;
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  SmtpServer server;
  std::filesystem::path file;
  sitedb::Db sql;
  std::shared_ptr<Database> db;
  std::shared_ptr<eventlog::MemorySink> events;
};

class SendingWithLogin : public Sending {
 protected:
  explicit SendingWithLogin(const std::string& password = kPassword)
      : Sending(loopbackmail::RequiringLogin(kUser, password)) {
    sql.Exec("update EMailConfiguration set ServerLoginRequired = 1, " + loopbackmail::LoginColumns(kUser, password));
  }
};
// A three-character password is a secret too: wherever it shows in the stored failure, it is masked.
class SendingWithShortPassword : public SendingWithLogin {
 protected:
  SendingWithShortPassword() : SendingWithLogin("bad") {}
};

TEST_F(SendingWithShortPassword, EveryLengthOfPasswordIsMasked) {
  server.RejectRecipient("bad@example.com");
  int id = Pending("bad@example.com", 1);
  brisquel::SendNotifications(*db);
  const std::string error = Column(id, "AttemptedDeliveryErrorMsg");
  EXPECT_NE(error.find("RCPT TO:<***@example.com>"), std::string::npos) << error;
  EXPECT_EQ(error.find("bad"), std::string::npos) << error;
}

TEST_F(SendingWithLogin, RejectedRecipientFailsAfterItsAttemptsWhileTheOthersAreSent) {
  server.RejectRecipient("bad@example.com");
  int good1 = Pending("alice@example.com", 5);
  int bad = Pending("bad@example.com", 1);
  int good2 = Pending("carol@example.com", 2);

  // Each run tries each row once: the rejected one is not retried at once.
  brisquel::SendNotifications(*db);
  EXPECT_EQ(State(good1), "Sent|1");
  EXPECT_EQ(State(good2), "Sent|1");
  EXPECT_EQ(State(bad), "Pending|1");
  EXPECT_EQ(Commands("RCPT TO:<bad@example.com>"), 1u);
  brisquel::SendNotifications(*db);
  EXPECT_EQ(State(bad), "Pending|2");
  brisquel::SendNotifications(*db);
  EXPECT_EQ(State(bad), "Failed|3");
  brisquel::SendNotifications(*db);  // nothing left to do
  EXPECT_EQ(State(bad), "Failed|3");
  EXPECT_EQ(Commands("RCPT TO:<bad@example.com>"), 3u);
  EXPECT_GE(Traced("Brisquel.dll::SendPendingNotifications - No notifications to send."), 1u);

  // The failure is stored with the dialogue, and no credential is in it.
  std::string error = Column(bad, "AttemptedDeliveryErrorMsg");
  EXPECT_EQ(error.rfind("Error: 550 (Recipient not accepted: <bad@example.com> (550 5.1.1 Mailbox unavailable))\r\n"
                        "Log details follow:\r\n", 0),
            0u)
      << error;
  EXPECT_NE(error.find("RCPT TO:<bad@example.com>"), std::string::npos) << error;
  EXPECT_NE(error.find("AUTH "), std::string::npos) << error;  // the login is in it, masked
  EXPECT_EQ(loopbackmail::Leak(error, kUser, kPassword), "") << error;
  for (const auto& t : events->Texts()) EXPECT_EQ(loopbackmail::Leak(t, kUser, kPassword), "") << t;
  EXPECT_EQ(Column(bad, "substr(DateCompleted, 12)"), "00:00:00.000");
  EXPECT_EQ(Column(bad, "substr(DateCompleted, 1, 10)"), Column(bad, "substr(DateTimeCompleted, 1, 10)"));
  EXPECT_EQ(Column(good1, "AttemptedDeliveryErrorMsg"), "");
  EXPECT_EQ(Column(good1, "substr(DateCompleted, 12)"), "00:00:00.000");

  // What arrived: one message to each good recipient, authenticated, well formed.
  auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 2u);
  std::vector<std::string> to;
  for (const auto& mail : mails) {
    EXPECT_EQ(mail.user, kUser);
    EXPECT_EQ(mail.from, "tracker@example.com");
    ASSERT_EQ(mail.recipients.size(), 1u);
    to.push_back(mail.recipients[0]);
    mime::Entity m = mime::Parse(mail.data);
    EXPECT_EQ(mime::Mailboxes(m.Header("To")), mail.recipients);
    EXPECT_EQ(m.MediaType(), "multipart/alternative");
    ASSERT_EQ(m.parts.size(), 2u);
    EXPECT_EQ(m.parts[0].MediaType(), "text/plain");
    EXPECT_EQ(m.parts[1].MediaType(), "text/html");
    std::string issueId = m.Header("X-Vantrel-IssueId");
    EXPECT_EQ(m.DecodedHeader("Subject"), "You've been assigned issue " + issueId + ".");
    EXPECT_NE(m.parts[0].DecodedBody().find("http://tracker.example.com/Issues/Issue.asp?IssueId=" + issueId),
              std::string::npos);
  }
  EXPECT_EQ(to, (std::vector<std::string>{"alice@example.com", "carol@example.com"}));
}

TEST_F(Sending, APassEndsAtAFailedMessageAndTheNextGoesOnPastIt) {
  server.RejectRecipient("bad@example.com");
  int first = Pending("alice@example.com");
  int bad = Pending("bad@example.com");
  int third = Pending("carol@example.com");
  Notifications n;
  bool retry = false;
  brisquel::SendPendingNotifications(n, *db, retry);
  EXPECT_TRUE(retry);
  EXPECT_EQ(State(first), "Sent|1");
  EXPECT_EQ(State(bad), "Pending|1");
  EXPECT_EQ(State(third), "Pending|0");
  EXPECT_EQ(Traced("Brisquel.dll::SendPendingNotifications - Notification failed to send, issue id: 5, address: "
                   "bad@example.com, template: Assignment Notice, error: \"Error: 550 (Recipient not accepted"),
            1u);

  brisquel::SendPendingNotifications(n, *db, retry);
  EXPECT_FALSE(retry);
  EXPECT_EQ(State(bad), "Pending|1");
  EXPECT_EQ(State(third), "Sent|1");
  EXPECT_EQ(server.SessionCount(), 2);  // every pass connects anew
  EXPECT_EQ(Traced("Brisquel.dll::SendPendingNotifications - Notification sent, issue id: 5, address: "
                   "carol@example.com, template: Assignment Notice"),
            1u);
}

TEST_F(Sending, OneFailedAttemptIsFinalWhenTheMaximumIsOneOrZero) {
  server.RejectRecipient("bad@example.com");
  for (int maximum : {1, 0}) {
    Configure(server.Port(), maximum);
    int id = Pending("bad@example.com");
    brisquel::SendNotifications(*db);
    EXPECT_EQ(State(id), "Failed|1") << maximum;
  }
}

TEST_F(Sending, NoConnectionChargesEveryPendingRowOnce) {
  int port;
  {
    SmtpServer gone;
    port = gone.Port();
  }
  Configure(port);
  std::vector<int> ids;
  for (int i = 0; i < 5; ++i) ids.push_back(Pending("user" + std::to_string(i) + "@example.com"));
  // A pending row is never purged, however old its completion date says it is.
  sql.Exec("update EMailNotifications set DateTimeCompleted = '2000-01-01 00:00:00.000' where EMailNotificationId = " +
           std::to_string(ids[0]));
  brisquel::SendNotifications(*db);  // returns: no retry after a failed connection
  for (int id : ids) {
    EXPECT_EQ(State(id), "Pending|1");
    EXPECT_EQ(Column(id, "AttemptedDeliveryErrorMsg").rfind("Error: 7 (", 0), 0u) << Column(id, "AttemptedDeliveryErrorMsg");
  }
  EXPECT_EQ(Traced("Brisquel.dll::SendPendingNotifications - Could not connect to SMTP server, \"Error: 7 ("), 1u);
}

TEST_F(Sending, DisabledEMailDiscardsTheQueueAndPurgesOldRows) {
  int pending = Pending("alice@example.com");
  int oldSent = Pending("bob@example.com");
  int recentFailed = Pending("carol@example.com");
  sql.Exec("update EMailNotifications set StatusCode = 'Sent', DateTimeCompleted = "
           "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-3 days', '-1 minutes') where EMailNotificationId = " +
           std::to_string(oldSent));
  sql.Exec("update EMailNotifications set StatusCode = 'Failed', DateTimeCompleted = "
           "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-2 days') where EMailNotificationId = " +
           std::to_string(recentFailed));
  sql.Exec("update EMailConfiguration set EMailEnabled = 0");
  brisquel::SendNotifications(*db);
  EXPECT_EQ(State(pending), "");
  EXPECT_EQ(State(oldSent), "");
  EXPECT_EQ(State(recentFailed), "Failed|0");
  EXPECT_EQ(Traced("Brisquel.dll::SendPendingNotifications - EMail not enabled."), 1u);
  EXPECT_EQ(server.SessionCount(), 0);
}

TEST_F(Sending, NothingPendingMakesNoConnectionButStillPurges) {
  int old = Pending("bob@example.com");
  sql.Exec("update EMailNotifications set StatusCode = 'Failed', DateTimeCompleted = '2020-01-01 00:00:00.000'");
  brisquel::SendNotifications(*db);
  EXPECT_EQ(State(old), "");
  EXPECT_EQ(server.SessionCount(), 0);
  EXPECT_EQ(Traced("Brisquel.dll::SendPendingNotifications - No notifications to send."), 1u);
}

TEST_F(Sending, ARowThatCannotBeComposedIsChargedAndThePassGoesOn) {
  sql.Exec("insert into EMailTemplateTypes (TemplateTypeName, Multipart) values ('Empty', 0)");
  sql.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values ('Hollow', 'Empty', 's')");
  int before = Pending("alice@example.com");
  int hollow = Pending("bob@example.com", 5, "Hollow");
  int after = Pending("carol@example.com");
  Notifications n;
  bool retry = true;
  brisquel::SendPendingNotifications(n, *db, retry);
  EXPECT_FALSE(retry);
  EXPECT_EQ(State(before), "Sent|1");
  EXPECT_EQ(State(hollow), "Pending|1");
  EXPECT_EQ(State(after), "Sent|1");
  EXPECT_EQ(Column(hollow, "AttemptedDeliveryErrorMsg").rfind("Error: ", 0), 0u);
  EXPECT_EQ(Traced("Notification could not be composed, issue id: 5, address: bob@example.com, template: Hollow"), 1u);
  EXPECT_EQ(server.MessageCount(), 2u);
}

TEST_F(Sending, ALongFailureTextIsFittedToItsColumn) {
  server.SetDataReply(554, "5.6.0 " + std::string(1500, 'z') + " refused");
  int id = Pending("alice@example.com");
  brisquel::SendNotifications(*db);
  std::string error = Column(id, "AttemptedDeliveryErrorMsg");
  EXPECT_EQ(State(id), "Pending|1");
  EXPECT_EQ(brisquel::CharLength(error), 1024u);
  EXPECT_EQ(error.rfind("Error: 554 (5.6.0 zzz", 0), 0u) << error.substr(0, 60);
}

TEST_F(Sending, SendNotificationsByName) {
  int id = Pending("alice@example.com");
  auto object = automation::CreateObject("Brisquel.Database");
  object->Put("ConnectionString", automation::Variant(sitedb::ConnectionString(file)));
  object->Call("SendNotifications");
  EXPECT_EQ(State(id), "Sent|1");

  // One pass by name, with its retry flag written back.
  int bad = Pending("bad@example.com");
  server.RejectRecipient("bad@example.com");
  auto n = automation::CreateObject("Brisquel.Notifications");
  std::vector<automation::Variant> args = {automation::Variant(object), automation::Variant(false)};
  n->Call("SendPendingNotifications", args);
  EXPECT_TRUE(args[1].ToBool());
  EXPECT_EQ(State(bad), "Pending|1");
}

}  // namespace

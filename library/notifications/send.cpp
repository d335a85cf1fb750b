// Sending: passes over the pending EMailNotifications rows. A pass connects once, composes and
// sends each row's message, and records the outcome on the row; at its end finished rows older
// than three days are purged. Progress goes to the trace at level 1.
#include <optional>
#include <unordered_map>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/trace.h"
#include "notifications/compose.h"
#include "notifications/email_config.h"
#include "notifications/message_format.h"
#include "notifications/notifications.h"
#include "notifications/smtp_session.h"
#include "smtp/smtp.h"

namespace brisquel {

using automation::HeadChars;
using automation::TailChars;
using automation::Variant;

namespace {

constexpr std::string_view kClass = "Notifications";
constexpr std::string_view kTracePrefix = "Brisquel.dll::SendPendingNotifications - ";
constexpr size_t kErrorMsgChars = 1024;  // EMailNotifications.AttemptedDeliveryErrorMsg
constexpr const char* kCrLf = "\r\n";

constexpr const char* kDeletePending =
    "delete from EMailNotifications where EMailNotifications.StatusCode = 'Pending'";
// In queue order, so the oldest notification goes first.
constexpr const char* kSelectPending =
    "select * from EMailNotifications where EMailNotifications.StatusCode = 'Pending' "
    "order by EMailNotifications.EMailNotificationId";
// Finished rows whose completion lies three days or more in the past by the database's clock.
constexpr const char* kPurge =
    "delete from EMailNotifications where EMailNotifications.StatusCode <> 'Pending' and "
    "EMailNotifications.DateTimeCompleted <= strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-3 days')";


}  // namespace

// A failure text fitted to `limit` characters: the error line is kept, and of the dialogue after
// it as much of the end as fits, since that is where the failure shows.
std::string FitFailureText(const std::string& text, size_t limit) {
  if (CharLength(text) <= limit) return text;
  static constexpr std::string_view kCut = "\r\n[...]\r\n";
  std::string_view all(text);
  size_t headEnd = all.find(kCrLf);
  std::string_view head = all.substr(0, headEnd == std::string_view::npos ? all.size() : headEnd);
  size_t headChars = CharLength(head);
  size_t room = limit - kCut.size();
  if (headChars > room / 2) {
    head = HeadChars(head, room / 2);
    headChars = room / 2;
  }
  std::string out(head);
  out += kCut;
  out += TailChars(all.substr(head.size()), room - headChars);
  return out;
}

namespace {

// One sending pass.
class Pass {
 public:
  Pass(Notifications& n, Database& db) : n_(n), db_(db) {}

  void Run(bool& retry) {
    retry = false;
    config_ = ReadMailConfig(db_);
    composer_ = std::make_unique<MessageComposer>(db_, AddTrailingSlash(config_.webSiteUrl),
                                                  ReadFieldRepresentations(db_));

    if (!config_.enabled) {
      db_.Execute(kDeletePending);
      Trace("EMail not enabled.");
      Finish();
      return;
    }

    maxAttempts_ = config_.maximumDeliveryAttempts;
    std::vector<Row> rows;
    db_.Each(kSelectPending, {}, [&](const sql::Row& p) {
      Row r{p.Long("EMailNotificationId"), p.Long("IssueId"), p.Text("EMailAddress"), p.Text("TemplateName"),
            p.Long("DeliveryAttempts")};
      if (!n_.TriedRows().count(r.id)) rows.push_back(std::move(r));
    });
    if (rows.empty()) {
      Trace("No notifications to send.");
      Finish();
      return;
    }

    std::string connectError = Connect();
    if (!connectError.empty()) {
      const std::string failure = session_->WithLog(connectError);
      for (const Row& r : rows) {
        n_.TriedRows().insert(r.id);
        NotDelivered(r, failure);
      }
      Trace("Could not connect to SMTP server, \"" + failure + "\"");
      Finish();
      return;
    }

    for (const Row& r : rows) {
      n_.TriedRows().insert(r.id);
      std::string error;
      std::shared_ptr<smtp::SmtpMessagePart> message = Compose(r, error);
      if (!message) {
        // A message that cannot be composed is charged like a failed delivery; the pass goes on,
        // since the session is not at fault.
        session_->ClearLog();
        error = session_->Scrub(error);
        Trace("Notification could not be composed, issue id: " + std::to_string(r.issueId) + ", address: " +
              r.address + ", template: " + r.templateName + ", error: \"" + error + "\"");
        NotDelivered(r, error);
        continue;
      }
      std::string result = SendNotification(message);
      if (!result.empty()) {
        Trace("Notification failed to send, issue id: " + std::to_string(r.issueId) + ", address: " + r.address +
              ", template: " + r.templateName + ", error: \"" + result + "\"");
        NotDelivered(r, result);
        retry = true;
        Finish();
        return;
      }
      Sent(r);
      Trace("Notification sent, issue id: " + std::to_string(r.issueId) + ", address: " + r.address +
            ", template: " + r.templateName);
    }
    retry = false;
    Finish();
  }

 private:
  struct Row {
    int32_t id;
    int32_t issueId;
    std::string address;
    std::string templateName;
    int32_t attempts;
  };

  void Trace(const std::string& text) { trace_.Trace(1, std::string(kTracePrefix) + text); }

  // Creates, configures and connects the client; the connect error, or "" when connected.
  std::string Connect() {
    SmtpSettings settings;
    settings.host = config_.smtpHost;
    settings.port = config_.smtpPort;
    settings.timeout = Variant(config_.sendTimeout).ToInt();
    if (config_.loginRequired) {
      // The configuration reader never hands the password out: it is read here, for the login only.
      settings.login = true;
      settings.user = config_.smtpUserId;
      settings.password = GetSmtpPassword(db_);
    }
    session_ = std::make_unique<SmtpSession>(settings);
    return session_->Connect();
  }

  const MessageFormat& TemplateRows(const std::string& name) {
    auto it = templates_.find(name);
    if (it != templates_.end()) return it->second;
    return templates_.emplace(name, ReadMessageFormat(db_, name)).first->second;
  }

  // The row's message, or nullptr with the failure text in `error`.
  std::shared_ptr<smtp::SmtpMessagePart> Compose(const Row& r, std::string& error) {
    try {
      return Procedure(kClass, "SendNotification", [&] {
        std::optional<IssueValues> issue = ReadIssueValues(db_, r.issueId);
        if (!issue)
          automation::RaiseRuntime(ado::err::kNoCurrentRecord, "There is no issue " + std::to_string(r.issueId) + ".");
        return composer_->BuildMailMessage(config_.fromAddress, r.address, *issue, TemplateRows(r.templateName));
      });
    } catch (...) {
      automation::LastError e = CurrentError();
      error = "Error: " + std::to_string(e.number) + " (" + e.description + ")";
      return nullptr;
    }
  }

  // "" when the message was sent, else the failure text.
  std::string SendNotification(const std::shared_ptr<smtp::SmtpMessagePart>& message) {
    bool sent = false;
    try {
      sent = session_->Client().SendMessage(message);
    } catch (...) {
      sent = false;
    }
    std::string result;
    if (!sent || session_->Client().ErrorCode() != 0)
      result = session_->Scrub(session_->ClientError() + kCrLf + "Log details follow:" + kCrLf +
                               WithoutFinalCrLf(session_->DebugLog()));
    session_->ClearLog();
    return result;
  }

  void Sent(const Row& r) {
    automation::Date now = automation::Now();
    db_.Execute(
        "update EMailNotifications set StatusCode = 'Sent', DeliveryAttempts = ?, DateCompleted = ?, "
        "DateTimeCompleted = ? where EMailNotificationId = ?",
        {ado::Param::Long(r.attempts + 1), ado::Param::DateTime(Variant::FromDate(automation::DateOnly(now))),
         ado::Param::DateTime(Variant::FromDate(now)), ado::Param::Long(r.id)});
  }

  void NotDelivered(const Row& r, const std::string& failure) {
    const int32_t attempts = r.attempts + 1;
    const std::string text = FitFailureText(failure, kErrorMsgChars);
    if (attempts >= maxAttempts_) {
      automation::Date now = automation::Now();
      db_.Execute(
          "update EMailNotifications set StatusCode = 'Failed', DeliveryAttempts = ?, DateCompleted = ?, "
          "DateTimeCompleted = ?, AttemptedDeliveryErrorMsg = ? where EMailNotificationId = ?",
          {ado::Param::Long(attempts), ado::Param::DateTime(Variant::FromDate(automation::DateOnly(now))),
           ado::Param::DateTime(Variant::FromDate(now)), ado::Param::Text(text, kErrorMsgChars),
           ado::Param::Long(r.id)});
    } else {
      db_.Execute(
          "update EMailNotifications set DeliveryAttempts = ?, AttemptedDeliveryErrorMsg = ? "
          "where EMailNotificationId = ?",
          {ado::Param::Long(attempts), ado::Param::Text(text, kErrorMsgChars), ado::Param::Long(r.id)});
    }
  }

  // End of a pass: the session is closed and old finished rows are purged.
  void Finish() {
    session_.reset();  // disconnects
    db_.Execute(kPurge);
  }

  Notifications& n_;
  Database& db_;
  VTLLogging trace_;  // a new one each pass reads the trace level again
  MailConfig config_;
  std::unique_ptr<MessageComposer> composer_;
  // Each template's format, read once per pass.
  std::unordered_map<std::string, MessageFormat, NoCaseHash, NoCaseEqual> templates_;
  std::unique_ptr<SmtpSession> session_;
  int32_t maxAttempts_ = 0;
};

}  // namespace

void SendPendingNotifications(Notifications& n, Database& db, bool& retryDueToErrors) {
  Procedure(kClass, "SendPendingNotifications", [&] {
    Pass pass(n, db);
    pass.Run(retryDueToErrors);
  });
}

void SendNotifications(Database& db) {
  Procedure("Database", "SendNotifications", [&] {
    auto n = std::make_shared<Notifications>();
    bool retry = false;
    do {
      SendPendingNotifications(*n, db, retry);
    } while (retry);
  });
}

namespace {

automation::Register<Database> regDatabase([](auto& c) { c.Method("SendNotifications", &SendNotifications); });

automation::Register<Notifications> regNotifications([](auto& c) {
  c.Method("SendPendingNotifications", +[](Notifications& n, std::shared_ptr<Database> db, bool& retryDueToErrors) {
    if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    SendPendingNotifications(n, *db, retryDueToErrors);
  });
});

}  // namespace

}  // namespace brisquel

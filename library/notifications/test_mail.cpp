// The test message. The SMTP client is set up, and its dialogue collected and cleaned of secrets,
// by the same session code the notification sender uses. The one-off job that sends it on the
// agent's side has a structured step (the site's file and the address), never a script.
#include "notifications/test_mail.h"

#include "ado/ado.h"
#include "jobstore/jobstore.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/writer.h"
#include "maintenance/db_admin.h"
#include "notifications/smtp_session.h"
#include "smtp/smtp.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "Notifications";
constexpr const char* kCrLf = "\r\n";
constexpr size_t kResultChars = 1024;  // EMailTestResults.TestResult
constexpr const char* kSubject = "Vantrel test message";
constexpr const char* kBody =
    "This message is a test of the Vantrel E-Mail configuration.\r\n\r\nDo not reply to this mail.";
constexpr const char* kNothingLogged =
    "No messages logged, this is likely a failure. Contact your support representative for assistance.";
constexpr const char* kJobDescription =
    "This job sends a test email messages for the Vantrel Issue Tracking application. The job should only be "
    "run once.";

std::vector<std::string> Lines(const std::string& dialogue) {
  std::vector<std::string> out;
  for (size_t at = 0;;) {
    size_t crlf = dialogue.find(kCrLf, at);
    out.push_back(dialogue.substr(at, crlf == std::string::npos ? std::string::npos : crlf - at));
    if (crlf == std::string::npos) return out;
    at = crlf + 2;
  }
}

// A port above 32,767 reaches the 16-bit argument as its bit pattern.
int16_t PortBits(int32_t port) { return static_cast<int16_t>(static_cast<uint16_t>(port)); }

}  // namespace

std::string SendTestMessage(Notifications&, const std::string& toEMail, const std::string& fromEmail,
                            const std::string& smtpHost, int16_t smtpPort, int16_t smtpTimeout,
                            const std::string& smtpUserId, const std::string& smtpPassword) {
  return Procedure(kClass, "SendTestMessage", [&] {
    SmtpSession session({smtpHost, static_cast<uint16_t>(smtpPort), smtpTimeout, !smtpUserId.empty(), smtpUserId,
                         smtpPassword});
    const std::string connectError = session.Connect();
    if (!connectError.empty()) return session.WithLog(connectError);
    const size_t logged = session.DebugLog().size();
    bool sent = false;
    try {
      sent = session.Client().SendText(fromEmail, toEMail, kSubject, kBody);
    } catch (...) {
      sent = false;
    }
    std::string result = session.DebugLog();
    // A send refused before any protocol line (an address with a line break) says why, so a test
    // that sent nothing never reads like a success.
    if (!sent && session.DebugLog().size() == logged) result += session.ClientError() + kCrLf;
    return session.Scrub(result);
  });
}

void StoreTestResults(Database& db, const std::string& dialogue) {
  Database::Transaction tx(db);  // rolled back before an error (a line too long) leaves
  for (const std::string& line : dialogue.empty() ? std::vector<std::string>{kNothingLogged} : Lines(dialogue))
    db.Execute("insert into EMailTestResults (TestResult) values (?)",
               {ado::Param::Text(automation::Variant(line), kResultChars, "TestResult")});
  tx.Commit();
}

void SendTestEMailMessage(Database& db, const std::string& toEMail) {
  Procedure("Database", "SendTestEMailMessage", [&] {
    db.Execute("delete from EMailTestResults");
    const std::optional<MailConfig> config = FindMailConfig(db);
    if (!config) automation::RaiseRuntime(ado::err::kNoCurrentRecord, "There is no e-mail configuration row.");
    auto n = std::make_shared<Notifications>();
    // The configuration reader never hands the password out: it is read for the login only.
    const std::string dialogue =
        SendTestMessage(*n, toEMail, config->fromAddress, config->smtpHost, PortBits(config->smtpPort),
                        automation::Variant(config->sendTimeout).ToInt(), config->smtpUserId, GetSmtpPassword(db));
    StoreTestResults(db, dialogue);
  });
}

RecordsetPtr GetEMailTestResultsRs(Database& db) {
  return Procedure("Database", "GetEMailTestResultsRs",
                   [&] { return db.Read("select * from EMailTestResults order by TestResultId"); });
}

std::unique_ptr<agent::Store> ConnectToDMO(Database& db, std::string& serverName, std::string& databaseName) {
  return Procedure(kClass, "ConnectToDMO", [&] {
    const ConnectionParms p = GetConnectionParms(db.Connection().ConnectionString());
    serverName = p.serverName;
    databaseName = p.databaseName;
    // The site's file reaches the agent's store directly: no login is needed.
    return std::make_unique<agent::Store>();
  });
}

namespace {

// The job, its one step, the removal of the earlier one and the start: false with the sentence in
// LastErrorMessage when the store refused a change (rolled back) or the start.
bool WriteTestJob(Notifications& n, Database& db, agent::Store& store, const std::string& server,
                  const std::string& jobName, const std::string& address) {
  // A failing read of the job list is raised; the changes' failures are expected ones.
  const std::optional<agent::Job> old = store.FindJob(server, jobName);
  int64_t id = 0;
  if (auto failed = db.Trap([&] {
        if (old) {
          store.Begin();
          store.RemoveJob(old->id);
          store.Commit();
        }
        store.Begin();
        id = store.AddJob({0, jobName, server, kJobDescription, "", agent::JobOwner(), true});
        store.AddStep(id, {1, "Send an e-mail", std::string(agent::kTestMailSubsystem), server, address});
        store.Commit();
      })) {
    store.Rollback();
    return n.Fail(UnexpectedRuntimeErrorReport(*failed));
  }
  if (auto failed = db.Trap([&] { store.StartJob(id); }))
    return n.Fail(failed->number == agent::kCannotStart ? failed->description : UnexpectedRuntimeErrorReport(*failed));
  return true;
}

}  // namespace

bool SetupTestEMailJob(Notifications& n, Database& db, const std::string& userId, const std::string& toEMailAddress) {
  return Procedure(kClass, "SetupTestEMailJob", [&] {
    n.SetLastErrorMessage("");
    if (!UserIsSiteAdmin(db, userId)) return n.Fail(kPermissionDenied);
    std::string server, database;
    std::unique_ptr<agent::Store> store = ConnectToDMO(db, server, database);
    // The store is closed when `store` goes, in every case.
    return WriteTestJob(n, db, *store, server == "." ? "(local)" : server, database + " EMail Test", toEMailAddress);
  });
}

namespace {

automation::Register<Database> regDatabase([](auto& c) {
  c.Method("SendTestEMailMessage", &SendTestEMailMessage);
  c.Method("GetEMailTestResultsRs", &GetEMailTestResultsRs);
});

automation::Register<Notifications> regNotifications([](auto& c) {
  c.Method("SendTestMessage", &SendTestMessage);
  c.Method("SetupTestEMailJob", +[](Notifications& n, std::shared_ptr<Database> db, const std::string& userId,
                                    const std::string& toEMailAddress) {
    if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
    return SetupTestEMailJob(n, *db, userId, toEMailAddress);
  });
});

}  // namespace

}  // namespace brisquel

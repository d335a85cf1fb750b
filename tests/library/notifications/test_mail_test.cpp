// The test message against the loopback SMTP server: the message, the stored dialogue, the
// failure texts, and the one-off job run by the real vantrel-agent.
#include <fstream>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "jobstore/jobstore.h"
#include "daemon/spawn.h"
#include "loopback_mail.h"
#include "mail_site.h"
#include "notifications/test_mail.h"
#include "support/com_error.h"
#include "support/mime.h"
#include "support/smtp_server.h"

namespace brisquel::mailtest {
namespace {

using automation::Variant;
using testsupport::SmtpServer;
using namespace std::chrono_literals;

constexpr const char* kUser = "mailer";
constexpr const char* kPassword = "Test-S3cret";

class TestMail : public MailSite {
 protected:
  explicit TestMail(SmtpServer::Options options = loopbackmail::RequiringLogin(kUser, kPassword))
      : server(std::move(options)) {
    // E-mail stays switched off: a test is sent all the same.
    Configure(server.Port(), kUser, kPassword);
  }
  void Configure(int port, const std::string& user, const std::string& password) {
    raw.Exec("update EMailConfiguration set EMailEnabled = 0, ServerLoginRequired = 0, " +
             loopbackmail::ServerColumns(port) + ", " + loopbackmail::LoginColumns(user, password));
  }
  std::vector<std::string> Results() {
    std::vector<std::string> out;
    auto rs = db->Call("GetEMailTestResultsRs").ToObject();
    for (; !rs->Get("EOF").ToBool(); rs->Call("MoveNext"))
      out.push_back(rs->Get("Fields", {Variant("TestResult")}).ToObject()->Get("Value").ToString());
    return out;
  }
  void Send(const std::string& to) { db->Call("SendTestEMailMessage", {Variant(to)}); }

  SmtpServer server;
};

TEST_F(TestMail, TheMessageArrivesAndItsDialogueIsKeptLineByLineWithoutSecrets) {
  Send("admin@example.com");
  ASSERT_EQ(server.MessageCount(), 1u);
  const auto mail = server.Messages()[0];
  EXPECT_EQ(mail.from, "tracker@example.com");
  EXPECT_EQ(mail.recipients, std::vector<std::string>{"admin@example.com"});
  EXPECT_EQ(mail.user, kUser);
  const auto parsed = testsupport::mime::Parse(mail.data);
  EXPECT_EQ(parsed.Header("From"), "tracker@example.com");
  EXPECT_EQ(parsed.Header("To"), "admin@example.com");
  EXPECT_EQ(parsed.Header("Subject"), "Vantrel test message");
  EXPECT_EQ(parsed.DecodedBody(),
            "This message is a test of the Vantrel E-Mail configuration.\r\n\r\nDo not reply to this mail.\r\n");

  const std::vector<std::string> first = Results();
  ASSERT_GT(first.size(), 3u);
  EXPECT_EQ(first.back(), "");  // the collected dialogue ends in CRLF
  std::vector<long long> ids;
  for (const std::string& id : raw.Rows("select TestResultId from EMailTestResults order by rowid"))
    ids.push_back(std::stoll(id));
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(raw.Rows("select TestResult from EMailTestResults order by TestResultId"), first);
  bool sawMailFrom = false;
  for (const std::string& row : first) {
    sawMailFrom |= row.find("MAIL FROM:<tracker@example.com>") != std::string::npos;
    EXPECT_EQ(loopbackmail::Leak(row, kUser, kPassword), "") << row;
  }
  EXPECT_TRUE(sawMailFrom);

  // A second test replaces the rows of the first.
  Send("admin@example.com");
  EXPECT_EQ(Results().size(), first.size());
  EXPECT_GT(raw.Int("select min(TestResultId) from EMailTestResults"), ids.back());
}

TEST_F(TestMail, FailuresAreStoredAsTheirErrorText) {
  SmtpServer::Options refusing;
  refusing.greetingCode = 554;
  SmtpServer refuser(refusing);
  int closedPort;
  {
    SmtpServer gone;
    closedPort = gone.Port();
  }
  struct Case {
    int port;
    std::string to;
    bool details;  // "Log details follow:" and the lines seen
  };
  const std::vector<Case> cases = {
      {closedPort, "admin@example.com", false},
      {refuser.Port(), "admin@example.com", true},
      // Refused by the SMTP layer before any protocol line of the send: never sent, its error stored.
      {server.Port(), "admin@example.com\r\nRCPT TO:<other@example.com>", false},
      {server.Port(), "admin@example.com\rRCPT TO:<other@example.com>", false},
      {server.Port(), "admin@example.com\nRCPT TO:<other@example.com>", false},
  };
  for (const Case& c : cases) {
    Configure(c.port, kUser, kPassword);
    Send(c.to);
    const std::vector<std::string> rows = Results();
    ASSERT_FALSE(rows.empty());
    const bool lineBreak = c.to.find_first_of("\r\n") != std::string::npos;
    const std::string& error = lineBreak ? rows[rows.size() - 2] : rows[0];
    EXPECT_EQ(error.rfind("Error: ", 0), 0u) << error;
    EXPECT_EQ(error.back(), ')') << error;
    const bool details = std::find(rows.begin(), rows.end(), "Log details follow:") != rows.end();
    EXPECT_EQ(details, c.details) << rows.size();
    if (c.port == closedPort) {
      EXPECT_EQ(rows.size(), 1u);
    }
    if (c.details) {
      EXPECT_EQ(rows[2].substr(0, 3), "554") << rows[2];
    }
    if (lineBreak) {
      EXPECT_EQ(error.rfind("Error: 1002 (", 0), 0u) << error;
    }
  }
  EXPECT_EQ(server.MessageCount(), 0u);
}

TEST_F(TestMail, AStoredDialogueIsWholeOrNothing) {
  StoreTestResults(*db, "");
  EXPECT_EQ(Results(), std::vector<std::string>{"No messages logged, this is likely a failure. Contact your support "
                                                "representative for assistance."});
  raw.Exec("delete from EMailTestResults");
  EXPECT_THROW(StoreTestResults(*db, "first\r\n" + std::string(1025, 'x') + "\r\n"), automation::ComError);
  EXPECT_FALSE(db->Connection().InTransaction());
  EXPECT_EQ(raw.Int("select count(*) from EMailTestResults"), 0);
}

class TestMailWithoutLogin : public TestMail {
 protected:
  TestMailWithoutLogin() : TestMail(SmtpServer::Options{}) { Configure(server.Port(), "", kPassword); }
};

TEST_F(TestMailWithoutLogin, APasswordWithoutAUserIdSendsNoLogin) {
  auto n = automation::CreateObject("Brisquel.Notifications");
  std::string dialogue = n->Call("SendTestMessage", {Variant("admin@example.com"), Variant("tracker@example.com"),
                                                     Variant("127.0.0.1"), Variant::Integer(static_cast<int16_t>(static_cast<uint16_t>(server.Port()))),
                                                     Variant::Integer(5), Variant(""), Variant(kPassword)})
                             .ToString();
  EXPECT_EQ(server.MessageCount(), 1u);
  for (const std::string& command : server.Commands()) EXPECT_NE(command.rfind("AUTH", 0), 0u) << command;
  EXPECT_NE(dialogue.find("MAIL FROM:<tracker@example.com>"), std::string::npos);
}

// The one-off job on the real agent: its structured step carries the site's file and the address
// unchanged; the agent's run sends the message and keeps the dialogue.
class TestMailJob : public TestMail {
 protected:
  ~TestMailJob() override {
    if (agentPid > 0) {
      ::kill(agentPid, SIGTERM);
      ::waitpid(agentPid, nullptr, 0);
    }
  }
  void StartAgent() {
    agentPid = vdaemon::Spawn({VANTREL_AGENT_PATH}, {"vantrel-agent"}, {}).pid;
    for (int i = 0; i < 500 && agent::Status(store) != agent::kRunning; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(agent::Status(store), agent::kRunning);
  }
  bool Setup(const std::string& user, const std::string& address) {
    return notifications->Call("SetupTestEMailJob", {Variant(std::static_pointer_cast<automation::Object>(db)),
                                                     Variant(user), Variant(address)})
        .ToBool();
  }
  std::string Message() { return notifications->Get("LastErrorMessage").ToString(); }
  std::vector<std::vector<std::string>> Jobs() {
    return agent::Store(store).Rows("select JobId, Server, Name from Jobs where Name = 'ISSUES EMAIL TEST'");
  }

  fs::path store = dir / "agent.db";
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", store.string()};
  std::shared_ptr<automation::Object> notifications = automation::CreateObject("Brisquel.Notifications");
  pid_t agentPid = 0;
};

TEST_F(TestMailJob, TheAgentSendsTheTestAndTheJobIsReplacedByTheNext) {
  StartAgent();
  const std::string address = "Pat O'Brien \"PO\" <pat@example.com>";
  ASSERT_TRUE(Setup("admin", address)) << Message();
  ASSERT_TRUE(server.WaitForMessages(1, 10000));
  EXPECT_EQ(server.Messages()[0].recipients, std::vector<std::string>{"pat@example.com"});
  // The display name with its quotes and apostrophe reaches the header (quoted as a header needs).
  EXPECT_EQ(testsupport::mime::Parse(server.Messages()[0].data).Header("To"),
            "\"Pat O'Brien \\\"PO\\\"\" <pat@example.com>");
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0][1], fs::canonical(file).string());
  agent::Store st(store);
  const auto steps = st.Steps(std::stoll(jobs[0][0]));
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].name, "Send an e-mail");
  EXPECT_EQ(steps[0].subsystem, "SendTestEMail");
  EXPECT_EQ(steps[0].database, fs::canonical(file).string());
  EXPECT_EQ(steps[0].command, address);
  std::vector<agent::HistoryRow> history;
  for (int i = 0; i < 1000 && history.size() < 2; ++i, std::this_thread::sleep_for(10ms))
    history = st.History(std::stoll(jobs[0][0]));
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history.back().stepId, 0);
  EXPECT_EQ(history.back().runStatus, agent::kSucceeded) << history.front().message;
  EXPECT_GT(Results().size(), 3u);
  const auto job = st.JobById(std::stoll(jobs[0][0]));
  EXPECT_EQ(job->description, "This job sends a test email messages for the Vantrel Issue Tracking application. "
                              "The job should only be run once.");
  EXPECT_EQ(job->category, "");
  EXPECT_TRUE(job->enabled);
  EXPECT_FALSE(job->owner.empty());

  ASSERT_TRUE(Setup("admin", "admin@example.com")) << Message();
  EXPECT_EQ(Jobs().size(), 1u);
  EXPECT_NE(Jobs()[0][0], jobs[0][0]);
  EXPECT_TRUE(server.WaitForMessages(2, 10000));
}

TEST_F(TestMailJob, AStepWhoseSiteCannotBeOpenedFailsWithTheReason) {
  StartAgent();
  agent::Store st(store);
  const int64_t id = st.AddJob({0, "Gone EMail Test", (dir / "gone.db").string(), "", "", "tester", true});
  st.AddStep(id, {1, "Send an e-mail", "SendTestEMail", (dir / "missing" / "gone.db").string(), "admin@example.com"});
  st.StartJob(id);
  std::vector<agent::HistoryRow> history;
  for (int i = 0; i < 1000 && history.size() < 2; ++i, std::this_thread::sleep_for(10ms)) history = st.History(id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].runStatus, agent::kFailed);
  EXPECT_NE(history[0].message.find("gone.db"), std::string::npos) << history[0].message;
  EXPECT_EQ(server.MessageCount(), 0u);
}

TEST_F(TestMailJob, RefusalsLeaveTheirSentence) {
  // No agent runs: the job stays defined and the agent's own description is the message.
  EXPECT_FALSE(Setup("admin", "admin@example.com"));
  EXPECT_EQ(Message(), "The job agent is not running, so the job cannot be started.");
  EXPECT_EQ(Jobs().size(), 1u);
  agent::Store(store).Exec("delete from Jobs");
  for (const std::string user : {"bob", ""}) {
    EXPECT_FALSE(Setup(user, "admin@example.com"));
    EXPECT_EQ(Message(), "Permission denied.");
  }
  EXPECT_TRUE(Jobs().empty());
  // A store that refuses the new job: the unexpected-error text, the job's transaction rolled back.
  agent::Store(store).Exec("CREATE TRIGGER Refuse BEFORE INSERT ON Jobs BEGIN SELECT RAISE(ABORT, 'no room'); END");
  EXPECT_FALSE(Setup("admin", "admin@example.com"));
  EXPECT_EQ(Message().rfind("An unexpected error has occurred.\r\nError number: ", 0), 0u) << Message();
  EXPECT_NE(Message().find("no room"), std::string::npos) << Message();
  EXPECT_TRUE(Jobs().empty());
  EXPECT_TRUE(agent::Store(store).Rows("select * from JobSteps").empty());
  // A job store that cannot be reached (its folder is blocked by a file) is raised.
  std::ofstream(dir / "blocked") << "a file, not a folder";
  testsupport::ScopedEnv unreachable{"VANTREL_AGENT_STORE", (dir / "blocked" / "agent.db").string()};
  auto e = testsupport::ErrorOf([&] { Setup("admin", "admin@example.com"); });
  EXPECT_NE(e.source.find("Notifications.SetupTestEMailJob"), std::string::npos) << e.source;
  EXPECT_NE(e.description.find("cannot be created"), std::string::npos) << e.description;
}

}  // namespace
}  // namespace brisquel::mailtest

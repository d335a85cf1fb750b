// The real kesprin program, run as a child process against a seeded site, a registry file, an
// event log file and an SMTP server on loopback.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

#include "eventlog/eventlog.h"
#include "registry/registry.h"
#include "support/mime.h"
#include "support/site_db.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

using testsupport::SmtpServer;

class Kesprin : public ::testing::Test {
 protected:
  Kesprin() : file(sitedb::FreshSite(true)), sql(file) {
    sql.Exec("update EMailConfiguration set EMailEnabled = 1, SmtpHost = '127.0.0.1', SmtpPort = " +
             std::to_string(server.Port()) +
             ", SendTimeout = 5, FromEMailAddress = 'tracker@example.com', ServerLoginRequired = 0, "
             "WebSiteURL = 'http://tracker.example.com/'");
  }

  void Tracing(const std::string& level) { registry::WriteValue(registry::kVantrelKey, "LogDetailLevel", level); }

  // Runs the program with these arguments (after its name); its exit code.
  int Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"kesprin"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, KESPRIN_PATH, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by a signal";
    return WEXITSTATUS(status);
  }

  std::vector<eventlog::Event> Events() {
    std::vector<eventlog::Event> out;
    std::ifstream in(eventFile);
    std::string line;
    while (std::getline(in, line)) {
      eventlog::Event e;
      EXPECT_TRUE(eventlog::ParseLine(line, e)) << line;
      out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& e : Events()) out.push_back(e.text);
    return out;
  }

  int Pending(const std::string& address) {
    sql.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values ('" + address +
             "', 5, 'Assignment Notice')");
    return static_cast<int>(sql.Int("select max(EMailNotificationId) from EMailNotifications"));
  }

  testsupport::TempDir dir;
  std::filesystem::path eventFile = dir / "events.log";
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv eventEnv{"VANTREL_EVENTLOG", eventFile.string()};
  SmtpServer server;
  std::filesystem::path file;
  sitedb::Db sql;
};

TEST_F(Kesprin, DeliversThePendingNotificationsOfTheDatabaseOnItsCommandLine) {
  Tracing("1");
  Pending("alice@example.com");
  Pending("carol@example.com");
  const std::string connection = sitedb::ConnectionString(file);
  EXPECT_EQ(Run({connection}), 0);

  ASSERT_EQ(server.MessageCount(), 2u);
  for (const auto& mail : server.Messages()) {
    auto m = testsupport::mime::Parse(mail.data);
    EXPECT_EQ(m.Header("X-Vantrel-IssueId"), "5");
    EXPECT_EQ(m.parts.size(), 2u);
  }
  EXPECT_EQ(sql.Int("select count(*) from EMailNotifications where StatusCode = 'Sent'"), 2);

  std::vector<std::string> own;
  for (const auto& e : Events()) {
    EXPECT_EQ(e.type, eventlog::Type::Information) << e.text;
    EXPECT_EQ(e.id, eventlog::kInformationId);
    EXPECT_EQ(e.source, "Vantrel");
    if (e.text.rfind("Kesprin.exe::", 0) == 0) own.push_back(e.text);
  }
  EXPECT_EQ(own, (std::vector<std::string>{
                     "Kesprin.exe::Started.",
                     "Kesprin.exe::Creating Brisquel.Database.",
                     "Kesprin.exe::Created Brisquel.Database successfully.",
                     "Kesprin.exe::Set database connection string (\"" + connection + "\")",
                     "Kesprin.exe::Calling SendNotifications.",
                     "Kesprin.exe::SendNotifications completed successfully.",
                     "Kesprin.exe::Exiting.",
                 }));
  auto texts = Texts();
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) {
                            return t.rfind("Brisquel.dll::SendPendingNotifications - Notification sent", 0) == 0;
                          }),
            2);
}

TEST_F(Kesprin, ACommandLineSplitAtBlanksIsPutBackTogether) {
  Tracing("0");
  Pending("alice@example.com");
  EXPECT_EQ(Run({"Data", "Source=" + file.string()}), 0);
  EXPECT_EQ(server.MessageCount(), 1u);
  EXPECT_TRUE(Events().empty());  // tracing off: a successful run writes nothing
}

TEST_F(Kesprin, EmptyCommandLineIsAnErrorEventAndExitZero) {
  Tracing("1");
  EXPECT_EQ(Run({}), 0);
  std::vector<eventlog::Event> errors;
  for (const auto& e : Events())
    if (e.type == eventlog::Type::Error && e.text.rfind("Kesprin.exe::", 0) == 0) errors.push_back(e);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].id, eventlog::kErrorId);
  EXPECT_EQ(errors[0].source, "Vantrel");
  EXPECT_EQ(errors[0].text.rfind("Kesprin.exe::Error setting connection string: ", 0), 0u) << errors[0].text;
  EXPECT_EQ(errors[0].text.find("(null)"), std::string::npos) << errors[0].text;  // the library's description
  EXPECT_EQ(errors[0].text.substr(errors[0].text.size() - 12, 3), "(0x");
  auto texts = Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Kesprin.exe::Calling SendNotifications."), 0);
  EXPECT_EQ(texts.back(), "Kesprin.exe::Exiting.");
}

TEST_F(Kesprin, ThePasswordOfTheConnectionStringIsMaskedInTheTrace) {
  Tracing("1");
  EXPECT_EQ(Run({"Data Source=" + file.string() + ";Password=hunter2"}), 0);
  auto texts = Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(),
                       "Kesprin.exe::Set database connection string (\"Data Source=" + file.string() +
                           ";Password=***\")"),
            1);
  for (const auto& t : texts) EXPECT_EQ(t.find("hunter2"), std::string::npos) << t;
}

TEST_F(Kesprin, AFailureOfTheLibraryIsReportedAndTheExitCodeStaysZero) {
  Tracing("1");
  // A database file without the site's tables: the connection opens, sending fails.
  std::filesystem::path empty = dir / "empty.db";
  { sitedb::Db make(empty); make.Exec("create table Other (x int)"); }
  EXPECT_EQ(Run({"Data Source=" + empty.string()}), 0);
  bool reported = false;
  for (const auto& e : Events()) {
    if (e.text.rfind("Kesprin.exe::Error calling SendNotifications: ", 0) == 0) {
      reported = true;
      EXPECT_EQ(e.type, eventlog::Type::Error);
      EXPECT_EQ(e.id, eventlog::kErrorId);
    }
  }
  EXPECT_TRUE(reported);
  auto texts = Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Kesprin.exe::SendNotifications completed successfully."), 0);
  EXPECT_EQ(texts.back(), "Kesprin.exe::Exiting.");
}

}  // namespace

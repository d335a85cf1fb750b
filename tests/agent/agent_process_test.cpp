// The real vantrel-agent with its store, registry, event log and unit folder in a temporary
// folder, backing up real site files.
#include <gtest/gtest.h>

#include <atomic>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <filesystem>
#include <regex>
#include <thread>

#include "jobstore/jobstore.h"
#include "backup.h"
#include "daemon/spawn.h"
#include "maintenance/db_admin.h"
#include "support/site_db.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace vagent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Stamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M", &tm);
  return buf;
}

class AgentProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(archive);
    fs::create_directories(units);
    fs::copy_file(sitedb::FreshSite(true), site);
  }
  void TearDown() override {
    for (pid_t pid : agents) Stop(pid);
  }

  // The agent holds its lock before it opens its store: it is started once it has also written
  // itself into the store.
  bool Started(pid_t pid) const {
    if (agent::Status(store) != agent::kRunning || !fs::exists(store)) return false;
    auto rows = agent::Store(store).Rows("select Pid from AgentState");
    return !rows.empty() && rows[0][0] == std::to_string(pid);
  }
  pid_t StartAgent() {
    vdaemon::Started s = vdaemon::Spawn({VANTREL_AGENT_PATH}, {"vantrel-agent"}, {});
    EXPECT_GT(s.pid, 0);
    for (int i = 0; i < 1000 && !Started(s.pid); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(Started(s.pid));
    agents.push_back(s.pid);
    return s.pid;
  }
  void Stop(pid_t pid, int sig = SIGTERM) {
    ::kill(pid, sig);
    ::waitpid(pid, nullptr, 0);
  }
  agent::Job BackupJob() const {
    agent::Job j;
    j.name = "Site Backup";
    j.server = site.string();
    j.description = "Vantrel Disk to Disk Backup";
    return j;
  }
  int64_t AddBackupJob(const std::string& expiry = "2") {
    agent::Store st(store);
    int64_t id = st.AddJob(BackupJob());
    brisquel::ConnectionParms p;
    p.serverName = site.string();
    p.databaseName = "Site";
    st.AddStep(id, {1, "Backup", "TSQL", "Site", brisquel::BackupCommand(p, archive.string(), expiry)});
    return id;
  }
  // The job's history once its outcome is written (empty when none came within 10 s).
  std::vector<agent::HistoryRow> Finished(int64_t jobId, size_t outcomes = 1) {
    for (int i = 0; i < 1000; ++i) {
      auto h = agent::Store(store).History(jobId);
      size_t n = 0;
      for (const auto& r : h) n += r.stepId == 0;
      if (n >= outcomes) return h;
      std::this_thread::sleep_for(10ms);
    }
    return {};
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(archive)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  size_t Matching(const std::string& pattern) {
    size_t n = 0;
    for (const auto& name : Names()) n += std::regex_match(name, std::regex(pattern));
    return n;
  }
  // Waits until a run of the job is paused after its copy; its pid.
  pid_t PausedRun() {
    for (int i = 0; i < 1000; ++i) {
      auto rows = agent::Store(store).Rows("select Pid from RunRequests where State = 'Running'");
      if (!rows.empty() && Matching("\\.Site_db_[0-9]{12}\\.bak\\.part-.*") == 1 && Matching(".*-journal") == 0) {
        std::this_thread::sleep_for(300ms);
        return std::stoi(rows[0][0]);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

  testsupport::TempDir dir;
  fs::path site = dir / "Site.db";
  fs::path archive = dir / "backups";
  fs::path units = dir / "units";
  fs::path store = dir / "agent.db";
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", store.string()};
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv logEnv{"VANTREL_EVENTLOG", (dir / "events.log").string()};
  testsupport::ScopedEnv unitEnv{"VANTREL_UNIT_DIR", units.string()};
  std::vector<pid_t> agents;
};

TEST_F(AgentProcessTest, AScheduleDueTwoSecondsAheadRunsAlone) {
  int64_t id = AddBackupJob();
  std::time_t due = std::time(nullptr) + 2;
  agent::Store(store).AddSchedule(id, {"Day", 4, 1, agent::DateNumber(due), agent::TimeNumber(due)});
  StartAgent();
  auto history = Finished(id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].stepId, 1);
  EXPECT_EQ(history[0].stepName, "Backup");
  EXPECT_EQ(history[1].stepId, 0);
  EXPECT_EQ(history[1].runStatus, agent::kSucceeded);
  EXPECT_GE(history[1].runDate * 1000000LL + history[1].runTime,
            agent::DateNumber(due) * 1000000LL + agent::TimeNumber(due));
  EXPECT_EQ(Matching("Site_db_[0-9]{12}\\.bak"), 1u);
  EXPECT_EQ(Matching("BackupLog_[0-9]{12}\\.txt"), 1u);
  // Once a day: it does not run again.
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(agent::Store(store).History(id).size(), 2u);
}

TEST_F(AgentProcessTest, AStartIsRefusedWithoutAnAgentAndWhileTheJobIsQueued) {
  int64_t id = AddBackupJob();
  agent::Store st(store);
  auto refusal = [&](const std::function<void()>& start) -> std::string {
    try {
      start();
    } catch (const automation::ComError& e) {
      EXPECT_EQ(e.number, agent::kCannotStart);
      return e.description;
    }
    return "";
  };
  EXPECT_EQ(refusal([&] { st.StartJob(id); }), "The job agent is not running, so the job cannot be started.");
  st.QueueRun(id);
  EXPECT_EQ(refusal([&] { st.QueueRun(id); }), "The job is already running or queued; a second start is refused.");
  EXPECT_EQ(st.Rows("select count(*) from RunRequests")[0][0], "1");
}

TEST_F(AgentProcessTest, OnlyOneAgentRunsPerStore) {
  StartAgent();
  // The store is shared by the site's account and the agent's: group members may write it.
  EXPECT_EQ(fs::status(store).permissions() & fs::perms::all, fs::perms(0660));
  vdaemon::Started second = vdaemon::Spawn({VANTREL_AGENT_PATH}, {"vantrel-agent"}, {});
  int status = 0;
  ::waitpid(second.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

// A store whose folder is missing gets its folder; one whose folder cannot be made (a file stands
// there) stops the agent with the sentence naming it, not with a word about another agent.
TEST_F(AgentProcessTest, AMissingStoreFolderIsMadeOrNamed) {
  const fs::path nested = dir / "state" / "agent" / "agent.db";
  {
    testsupport::ScopedEnv nestedStore("VANTREL_AGENT_STORE", nested.string());
    vdaemon::Started s = vdaemon::Spawn({VANTREL_AGENT_PATH}, {"vantrel-agent"}, {});
    ASSERT_GT(s.pid, 0);
    agents.push_back(s.pid);
    for (int i = 0; i < 1000 && agent::Status(nested) != agent::kRunning; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(agent::Status(nested), agent::kRunning);
  }
  testsupport::WriteFile(dir / "file", "");
  const fs::path blocked = dir / "file" / "agent.db";
  testsupport::ScopedEnv blockedStore("VANTREL_AGENT_STORE", blocked.string());
  vdaemon::Started s = vdaemon::Spawn({VANTREL_AGENT_PATH}, {"vantrel-agent"}, {});
  int status = 0;
  ::waitpid(s.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_NE(testsupport::ReadFile(dir / "events.log")
                .find("vantrel-agent: The job store " + blocked.string() + " cannot be created: its folder " +
                      (dir / "file").string() + " is missing and cannot be made (Not a directory)."),
            std::string::npos)
      << testsupport::ReadFile(dir / "events.log");
}

// Several processes (here connections) that open a new store at the same moment all get it.
TEST_F(AgentProcessTest, ANewStoreOpenedByManyAtOnceOpensForEach) {
  for (int round = 0; round < 20; ++round) {
    const fs::path file = archive / ("store" + std::to_string(round) + ".db");
    std::atomic<int> waiting{8}, opened{0};
    std::vector<std::thread> openers;
    for (int i = 0; i < 8; ++i)
      openers.emplace_back([&] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        try {
          agent::Store st(file);
          ++opened;
        } catch (const automation::ComError& e) {
          ADD_FAILURE() << e.description;
        }
      });
    for (auto& t : openers) t.join();
    ASSERT_EQ(opened, 8) << "round " << round;
  }
}

TEST_F(AgentProcessTest, OldFilesOfThisSiteGoOthersStay) {
  int64_t id = AddBackupJob("2");
  const std::string old = Stamp(std::time(nullptr) - 21 * 86400);
  const std::string recent = Stamp(std::time(nullptr) - 7 * 86400);
  for (const std::string& name : std::vector<std::string>{"Site_db_" + old + ".bak", "Site_db_" + recent + ".bak", "BackupLog_" + old + ".txt",
                                  "BackupLog_" + old + "07.txt", "notes.bak", "Other_db_" + old + ".bak", "Site_db_" + old + ".bak.txt"})
    testsupport::WriteFile(archive / name, "x");
  agent::Store(store).QueueRun(id);
  StartAgent();
  ASSERT_EQ(Finished(id).back().runStatus, agent::kSucceeded);
  auto names = Names();
  auto has = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) != names.end(); };
  EXPECT_FALSE(has("Site_db_" + old + ".bak"));
  EXPECT_FALSE(has("BackupLog_" + old + ".txt"));
  EXPECT_FALSE(has("BackupLog_" + old + "07.txt"));
  EXPECT_TRUE(has("Site_db_" + recent + ".bak"));
  EXPECT_TRUE(has("notes.bak"));
  EXPECT_TRUE(has("Other_db_" + old + ".bak"));
  EXPECT_TRUE(has("Site_db_" + old + ".bak.txt"));
}

TEST_F(AgentProcessTest, AnExistingNameFailsTheRunAndIsNotOverwritten) {
  int64_t id = AddBackupJob();
  std::time_t now = std::time(nullptr);
  for (std::time_t t : {now, now + 60}) testsupport::WriteFile(archive / ("Site_db_" + Stamp(t) + ".bak"), "mine");
  agent::Store(store).QueueRun(id);
  StartAgent();
  auto history = Finished(id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].runStatus, agent::kFailed);
  EXPECT_NE(history[0].message.find("already exists; nothing was overwritten."), std::string::npos);
  EXPECT_EQ(history[1].message, "The job failed. The last step to run was step 1 (Backup).");
  for (std::time_t t : {now, now + 60})
    EXPECT_EQ(testsupport::ReadFile(archive / ("Site_db_" + Stamp(t) + ".bak")), "mine");
}

// Two runs of the job's step in one minute (their starts given, as the run gets its own): the
// second fails on the minute's backup name, and the history shows each run its own report.
TEST_F(AgentProcessTest, TwoRunsInOneMinuteEachKeepTheirReport) {
  int64_t id = AddBackupJob();
  auto plan = agent::ParseMaintenanceCommand(agent::Store(store).Steps(id)[0].command);
  ASSERT_TRUE(plan);
  const std::time_t minute = (std::time(nullptr) - 86400) / 60 * 60;
  const std::time_t good = minute + 5, failed = minute + 35;
  std::string message;
  ASSERT_TRUE(RunBackup(*plan, good, message)) << message;
  ASSERT_FALSE(RunBackup(*plan, failed, message));
  for (auto [start, status] : {std::pair{good, agent::kSucceeded}, std::pair{failed, agent::kFailed}})
    agent::Store(store).AddHistory(id, {0, 0, "(Job outcome)", status, agent::DateNumber(start),
                                        agent::TimeNumber(start), 0, "outcome"});
  sitedb::Db(site).Exec("update SiteBackups set BackupArchive = '" + archive.string() + "'");
  brisquel::DbAdmin admin;
  admin.SetConnectionString(sitedb::ConnectionString(site));
  std::vector<std::pair<std::string, std::string>> rows;  // status, last line of the shown report
  for (auto rs = brisquel::GetBackupHistoryRs(admin); !rs->IsEOF(); rs->MoveNext()) {
    auto log = brisquel::GetBackupLogRs(admin, (archive / rs->Value("StatusReport").ToString()).string());
    std::string last;
    for (; !log->IsEOF(); log->MoveNext()) last = log->Value("LogEntry").ToString();
    rows.emplace_back(rs->Value("RunStatus").ToString(), last);
  }
  const std::string taken = "The backup file " + (archive / ("Site_db_" + Stamp(good) + ".bak")).string() +
                            " already exists; nothing was overwritten.";
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{{"Succeeded", "Backup finished."},
                                                                   {"Failed", taken}}));
}

// The test mail job of a site whose folder's name holds ";" and an apostrophe (its connection
// string quotes the path): the library writes the plain path into the step and the agent's run
// opens that site and sends.
TEST_F(AgentProcessTest, ATestMailStepReachesASiteWhosePathHoldsASemicolon) {
  testsupport::SmtpServer smtp;
  const fs::path folder = dir / "Pat's; sites";
  fs::create_directories(folder);
  const fs::path other = folder / "Site.db";
  fs::copy_file(sitedb::FreshSite(true), other);
  sitedb::Db(other).Exec("update EMailConfiguration set SmtpHost = '127.0.0.1', SmtpPort = " +
                         std::to_string(smtp.Port()) + ", SendTimeout = 5, FromEMailAddress = 'tracker@example.com', "
                         "SmtpUserId = '', SmtpPassword = ''");
  auto db = automation::CreateObject("Brisquel.Database");
  db->Put("ConnectionString", automation::Variant("Data Source=\"" + other.string() + "\""));
  ASSERT_EQ(db->Get("LastErrorMessage").ToString(), "");
  StartAgent();
  auto notifications = automation::CreateObject("Brisquel.Notifications");
  ASSERT_TRUE(notifications->Call("SetupTestEMailJob", {automation::Variant(db), automation::Variant("admin"),
                                                        automation::Variant("admin@example.com")}).ToBool())
      << notifications->Get("LastErrorMessage").ToString();
  agent::Store st(store);
  auto job = st.FindJob(fs::canonical(other).string(), "Site EMail Test");
  ASSERT_TRUE(job);
  EXPECT_EQ(st.Steps(job->id)[0].database, fs::canonical(other).string());
  auto history = Finished(job->id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].runStatus, agent::kSucceeded) << history[0].message;
  EXPECT_TRUE(smtp.WaitForMessages(1, 10000));
}

TEST_F(AgentProcessTest, AnyOtherCommandRunsNothing) {
  agent::Store st(store);
  int64_t id = st.AddJob(BackupJob());
  st.AddStep(id, {1, "Backup", "TSQL", "Site", "EXECUTE master.dbo.xp_cmdshell N'touch " + (dir / "ran").string() + "'"});
  st.QueueRun(id);
  StartAgent();
  auto history = Finished(id);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].message, "The step's command is not a backup command this agent runs; nothing was run.");
  EXPECT_EQ(history[1].runStatus, agent::kFailed);
  EXPECT_FALSE(fs::exists(dir / "ran"));
}

TEST_F(AgentProcessTest, RunsLeftRunningFailAtTheNextStart) {
  int64_t id = AddBackupJob();
  agent::Store(store).Exec("insert into RunRequests (JobId, State, Pid) values (?, 'Running', 999999)",
                           {std::to_string(id)});
  StartAgent();
  auto history = Finished(id);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].runStatus, agent::kFailed);
  EXPECT_EQ(history[0].message,
            "The job failed. The run ended without reporting its outcome (the agent or the run was stopped).");
  EXPECT_EQ(agent::Store(store).Rows("select count(*) from RunRequests")[0][0], "0");
}

TEST_F(AgentProcessTest, AKilledRunLeavesNoPartialBackupAndTheNextRunClearsItsLeftover) {
  for (bool killAgentToo : {false, true}) {
    SCOPED_TRACE(killAgentToo ? "run and agent killed" : "run killed");
    int64_t id = AddBackupJob();
    const long long issues = sitedb::Db(site).Int("select count(*) from Issues");
    pid_t agentPid;
    {
      testsupport::ScopedEnv pause("VANTREL_AGENT_TEST_PAUSE", "60");
      agentPid = StartAgent();
    }
    agent::Store(store).QueueRun(id);
    pid_t run = PausedRun();
    ASSERT_GT(run, 0);
    ::kill(run, SIGKILL);
    if (killAgentToo) {
      Stop(agentPid, SIGKILL);
      agents.pop_back();
      StartAgent();
    }
    auto history = Finished(id);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].runStatus, agent::kFailed);
    EXPECT_EQ(Matching("Site_db_[0-9]{12}\\.bak"), 0u);
    EXPECT_EQ(Matching("\\.Site_db_.*\\.part-.*"), 1u);
    sitedb::Db check(site);
    EXPECT_EQ(check.Text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(check.Int("select count(*) from Issues"), issues);

    // The agent started without the pause runs the next request to its end (the killed run's report
    // goes first: a run in the same minute would otherwise find its report's name taken).
    for (const auto& name : Names())
      if (name.rfind("BackupLog_", 0) == 0) fs::remove(archive / name);
    if (!killAgentToo) {
      Stop(agents.back());
      agents.pop_back();
      StartAgent();
    }
    agent::Store(store).QueueRun(id);
    ASSERT_EQ(Finished(id, 2).back().runStatus, agent::kSucceeded);
    EXPECT_EQ(Matching("Site_db_[0-9]{12}\\.bak"), 1u);
    EXPECT_EQ(Matching("\\.Site_db_.*\\.part-.*"), 0u);
    // A fresh folder and job for the second round.
    Stop(agents.back());
    agents.pop_back();
    fs::remove_all(archive);
    fs::create_directories(archive);
    agent::Store(store).Exec("delete from Jobs");
  }
}

TEST_F(AgentProcessTest, ServiceInstallsTheUnitWithThisInstallationsFilesAndUnregServerRemovesIt) {
  int rc = vdaemon::RunToEnd({VANTREL_AGENT_PATH}, {"vantrel-agent", "-Service"});
  ASSERT_EQ(rc, 0);
  std::string unit = testsupport::ReadFile(units / "vantrel-agent.service");
  for (const std::string& line : std::vector<std::string>{"Type=notify\n", "ExecStart=\"" + fs::path(VANTREL_AGENT_PATH).string() + "\"\n",
        "Environment=\"VANTREL_AGENT_STORE=" + store.string() + "\"\n",
        "Environment=\"VANTREL_REGISTRY=" + (dir / "registry").string() + "\"\n",
        "Environment=\"VANTREL_EVENTLOG=" + (dir / "events.log").string() + "\"\n", "WantedBy=multi-user.target\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
  EXPECT_TRUE(agent::StartsAtBoot());
  ASSERT_EQ(vdaemon::RunToEnd({VANTREL_AGENT_PATH}, {"vantrel-agent", "-UnregServer"}), 0);
  EXPECT_FALSE(fs::exists(units / "vantrel-agent.service"));
  EXPECT_FALSE(agent::StartsAtBoot());
}

}  // namespace
}  // namespace vagent

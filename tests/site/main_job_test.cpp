// The main job as a new user runs it: scripts/run.sh of a fresh clone of this checkout (its last
// commit), with the demo site in a temporary folder on a free port, runs the whole system with no
// step by hand: the site with its browser controls (the trend chart draws in Chromium), the job
// agent ("Back up now" makes a backup file) and the notification service (an assignment's mail
// reaches an SMTP server on loopback). A second demo site runs beside it with a registry and job
// store of its own, Ctrl-C ends every program a run started, and a site it finds is kept, without a
// password it cannot know. The clone builds in this build's folders, so that the test takes seconds
// and not a build from nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "jobstore/jobstore.h"
#include "support/browser.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = VANTREL_SOURCE_DIR;
const std::string kControls = VANTREL_CONTROLS_DIR;

// A program run with its output (stdout and stderr) collected; ended with its process group.
class Process {
 public:
  Process(const fs::path& folder, std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    // The given variables replace inherited ones of the same name (a shell takes the last of two);
    // a name without "=" removes the inherited one.
    std::vector<std::string> vars;
    for (const std::string& v : env)
      if (v.find('=') != std::string::npos) vars.push_back(v);
    for (char** e = environ; *e; ++e) {
      const std::string_view inherited(*e);
      const auto name = inherited.substr(0, inherited.find('='));
      if (std::none_of(env.begin(), env.end(), [&](const std::string& v) {
            return v == name || (v.starts_with(name) && v.size() > name.size() && v[name.size()] == '=');
          }))
        vars.emplace_back(inherited);
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(out[1], 1);
      dup2(out[1], 2);
      if (chdir(folder.c_str()) != 0) _exit(126);
      std::vector<char*> argv, envp;
      for (auto& a : args) argv.push_back(a.data());
      for (auto& v : vars) envp.push_back(v.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execvpe(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out[1]);
    reader_ = std::thread([this, fd = out[0]] {
      char buf[4096];
      for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        std::lock_guard lock(mutex_);
        output_.append(buf, static_cast<size_t>(n));
        changed_.notify_all();
      }
      close(fd);
      std::lock_guard lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    });
  }
  ~Process() {
    Stop();
    reader_.join();
  }
  // The first match of `pattern` in the output, waited for; empty when the output ended without it.
  std::string WaitFor(const std::regex& pattern, std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    std::smatch m;
    changed_.wait_for(lock, limit, [&] { return ended_ || std::regex_search(output_, m, pattern); });
    return std::regex_search(output_, m, pattern) ? m.str(m.size() > 1 ? 1 : 0) : std::string();
  }
  // Whether every process holding the output (the program and all it started) has ended in time.
  bool WaitForEnd(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ended_; });
  }
  // A signal to the whole process group, as a terminal's Ctrl-C (SIGINT) sends it.
  void Signal(int sig) {
    if (pid_ > 0) kill(-pid_, sig);
  }
  // Waits for the end; the exit status.
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    Wait();
  }
  std::string Output() {
    std::lock_guard lock(mutex_);
    return output_;
  }

 private:
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;
};

const std::regex kServed(R"(Listening on (http://127\.0\.0\.1:[0-9]+/APP)/Default\.asp)");

// The backup and the notification service's tests need them: the demo's own places and the
// schedule's minute shortened to 3 s, so that the service's period (one minute) passes quickly.
std::vector<std::string> MainJobEnv(const fs::path& site, const fs::path& controls) {
  return {"VANTREL_SITE_DIR=" + site.string(), "VANTREL_LISTEN=127.0.0.1:0", "VANTREL_ADMIN_PASSWORD=Main-job1",
          "BUILD_DIR=" + std::string(VANTREL_BINARY_DIR), "WASM_BUILD_DIR=" + controls.parent_path().string(),
          "VANTREL_MINUTE_SECONDS=0.05", "VANTREL_REGISTRY", "VANTREL_AGENT_STORE", "VANTREL_UNIT_DIR",
          "VANTREL_EVENTLOG"};
}

std::string Eval(testsupport::Page& page, const std::string& expression) {
  return page.Evaluate(expression).get<std::string>();
}

void SetValue(testsupport::Page& page, const std::string& name, const std::string& value) {
  page.Evaluate("document.getElementsByName(" + testsupport::Json(name).dump() + ")[0].value = " +
                testsupport::Json(value).dump());
}

TEST(MainJobTest, RunShFromAFreshCloneRunsTheWholeSystemForTheDemoSite) {
  if (kControls.empty()) GTEST_SKIP() << "the browser controls are not built (VANTREL_CONTROLS_DIR)";
  if (!fs::exists(kSource / ".git")) GTEST_SKIP() << "the source is not a git checkout";
  testsupport::TempDir dir;
  const fs::path clone = dir / "clone";
  {
    Process cloning(kSource, {"git", "clone", "--quiet", kSource.string(), clone.string()});
    ASSERT_EQ(cloning.Wait(), 0) << cloning.Output();
  }
  const fs::path site = dir / "site";
  const std::vector<std::string> env = MainJobEnv(site, kControls);
  std::string base;
  {
    Process job(clone, {"scripts/run.sh"}, env);
    base = job.WaitFor(kServed, std::chrono::seconds(240));
    ASSERT_FALSE(base.empty()) << job.Output();
    const std::string output = job.Output();
    for (const std::string& said : std::vector<std::string>{
             std::string("Sign in as admin (password Main-job1) or as alice, bob, carol or dave (password demo)."),
          "Job agent vantrel-agent (process ", "job store " + (site / "agent.db").string(),
          std::string("Notification service orlenta (process "),
          std::string("Mail goes to the SMTP server set on Outgoing E-Mail (Administration, System); a new demo site "
                      "has none, so its notifications wait until one is set there."),
          "Registry " + (site / "registry").string() + " (INSTALLDIR " + (site / "bin").string() + ")"})
      EXPECT_NE(output.find(said), std::string::npos) << said << "\n" << output;

    auto page = testsupport::Browser::Shared().NewPage();
    ASSERT_EQ(page->Navigate(base + "/Default.asp"), 200);
    testsupport::SubmitSignIn(*page, "admin", "Main-job1");
    ASSERT_EQ(page->Navigate(base + "/Reports/SummaryTrends.asp"), 200);
    ASSERT_TRUE(page->WaitFor("window.Chart1 && Chart1.readyState === 4")) << page->BodyText();
    page->Evaluate("Chart1.setAttribute('data-tamsolo-record', ''); Chart1.GridColor = Chart1.GridColor; 0");
    EXPECT_TRUE(page->WaitFor("Chart1.tamsoloCalls.some(l => l.includes('] Polyline '))"))
        << page->Evaluate("Chart1.tamsoloCalls").dump();

    // "Back up now": the agent that run.sh started runs the site's backup job into its folder.
    ASSERT_EQ(page->Navigate(base + "/Setup/SiteBackup.asp"), 200);
    EXPECT_EQ(Eval(*page, "document.getElementsByName('BackupArchive')[0].value"), (site / "Backups").string());
    page->ClickAndWait("#cmdBackupNow");
    EXPECT_EQ(page->Evaluate("location.search"), "?Started=1") << page->BodyText();
    bool backedUp = false;
    for (int i = 0; i < 300 && !backedUp; ++i) {
      for (const auto& e : fs::directory_iterator(site / "Backups"))
        backedUp = backedUp || (e.path().filename().string().starts_with("site_db_") && e.path().extension() == ".bak");
      if (!backedUp) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(backedUp) << page->BodyText();

    // The mail server set on Outgoing E-Mail; an assignment's notice reaches it through orlenta
    // and kesprin within the service's period.
    testsupport::SmtpServer::Options low;
    low.lowPort = true;
    testsupport::SmtpServer smtp(low);
    ASSERT_EQ(page->Navigate(base + "/Setup/SiteEMailServer.asp"), 200);
    page->Evaluate("document.getElementsByName('EMailEnabled')[0].checked = true");
    SetValue(*page, "SmtpHost", smtp.Host());
    SetValue(*page, "SmtpPort", std::to_string(smtp.Port()));
    SetValue(*page, "FromEMailAddress", "tracker@example.com");
    SetValue(*page, "DeliveryFrequency", "1");
    page->ClickAndWait("#cmdSave");
    ASSERT_EQ(Eval(*page, "document.getElementById('Message')?.innerText ?? ''"), "");
    ASSERT_EQ(page->Navigate(base + "/Issues/Issue.asp?IssueId=1"), 200);
    page->Evaluate("document.getElementById('AssignedToUser').value = 'bob'");
    page->ClickAndWait("#Save");
    ASSERT_TRUE(smtp.WaitForMessages(1, 60000)) << page->BodyText() << "\n"
                                                << testsupport::ReadFile(site / "events.log");
    EXPECT_EQ(smtp.Messages()[0].recipients, std::vector<std::string>{"bob@example.com"});
    EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();

    // A second demo site inside the clone, beside the first, on a port and with places of its own;
    // its folder is nothing to commit.
    const fs::path second = clone / "second-site";
    Process other(clone, {"scripts/run.sh"}, MainJobEnv(second, kControls));
    const std::string otherBase = other.WaitFor(kServed, std::chrono::seconds(240));
    ASSERT_FALSE(otherBase.empty()) << other.Output();
    EXPECT_NE(otherBase, base);
    EXPECT_EQ(page->Navigate(otherBase + "/Default.asp"), 200);
    EXPECT_EQ(agent::Status(site / "agent.db"), agent::kRunning);
    EXPECT_EQ(agent::Status(second / "agent.db"), agent::kRunning);
    EXPECT_NE(testsupport::ReadFile(second / "registry").find("INSTALLDIR=" + (second / "bin").string()),
              std::string::npos);
    {
      Process status(clone, {"git", "status", "--porcelain"});
      EXPECT_EQ(status.Wait(), 0);
      status.WaitForEnd(std::chrono::seconds(10));
      EXPECT_EQ(status.Output(), "");
    }
    // Ctrl-C ends the second site's programs, and only those.
    other.Signal(SIGINT);
    EXPECT_TRUE(other.WaitForEnd(std::chrono::seconds(60))) << other.Output();
    EXPECT_EQ(agent::Status(second / "agent.db"), agent::kStopped);
    EXPECT_EQ(agent::Status(site / "agent.db"), agent::kRunning);
    EXPECT_EQ(page->Navigate(base + "/Default.asp"), 200);

    job.Signal(SIGINT);
    EXPECT_TRUE(job.WaitForEnd(std::chrono::seconds(60))) << job.Output();
    EXPECT_EQ(agent::Status(site / "agent.db"), agent::kStopped);
  }
  // Run again, the site is kept as it is: no password is told, and it is served again.
  Process again(clone, {"scripts/run.sh"}, env);
  base = again.WaitFor(kServed, std::chrono::seconds(240));
  ASSERT_FALSE(base.empty()) << again.Output();
  auto page = testsupport::Browser::Shared().NewPage();
  EXPECT_EQ(page->Navigate(base + "/Default.asp"), 200);
  const std::string output = again.Output();
  EXPECT_NE(output.find("exists already; it is left as it is, with the accounts and passwords it has."),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("(password"), std::string::npos) << output;
}

}  // namespace

// The main job as a new user runs it: scripts/run.sh of a fresh clone of this checkout (its last
// commit), with the demo site in a temporary folder on a free port, serves the site with its browser
// controls; the trend chart draws in Chromium. The clone builds in this build's folders, so that
// the test takes seconds and not a build from nothing; a site it finds is kept, without a password
// it cannot know.
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

#include "support/browser.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = VANTREL_SOURCE_DIR;
const std::string kControls = VANTREL_CONTROLS_DIR;

// A program run with its output (stdout and stderr) collected; ended with its process group.
class Process {
 public:
  Process(const fs::path& folder, std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    // The given variables replace inherited ones of the same name (a shell takes the last of two).
    std::vector<std::string> vars = env;
    for (char** e = environ; *e; ++e) {
      const std::string_view inherited(*e);
      const auto name = inherited.substr(0, inherited.find('=') + 1);
      if (std::none_of(env.begin(), env.end(), [&](const std::string& v) { return v.starts_with(name); }))
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

TEST(MainJobTest, RunShFromAFreshCloneServesTheDemoSiteWithItsCharts) {
  if (kControls.empty()) GTEST_SKIP() << "the browser controls are not built (VANTREL_CONTROLS_DIR)";
  if (!fs::exists(kSource / ".git")) GTEST_SKIP() << "the source is not a git checkout";
  testsupport::TempDir dir;
  {
    Process clone(kSource, {"git", "clone", "--quiet", kSource.string(), (dir / "clone").string()});
    ASSERT_EQ(clone.Wait(), 0) << clone.Output();
  }
  const std::vector<std::string> env{
      "VANTREL_SITE_DIR=" + (dir / "site").string(), "VANTREL_LISTEN=127.0.0.1:0",
      "VANTREL_ADMIN_PASSWORD=Main-job1", "BUILD_DIR=" + std::string(VANTREL_BINARY_DIR),
      "WASM_BUILD_DIR=" + fs::path(kControls).parent_path().string(),
      "VANTREL_EVENTLOG=" + (dir / "events.log").string()};
  std::string base;
  {
    Process job(dir / "clone", {"scripts/run.sh"}, env);
    base = job.WaitFor(kServed, std::chrono::seconds(240));
    ASSERT_FALSE(base.empty()) << job.Output();
    const std::string output = job.Output();
    EXPECT_NE(output.find("Sign in as admin (password Main-job1) or as alice, bob, carol or dave (password demo)."),
              std::string::npos)
        << output;

    auto page = testsupport::Browser::Shared().NewPage();
    ASSERT_EQ(page->Navigate(base + "/Default.asp"), 200);
    testsupport::SubmitSignIn(*page, "admin", "Main-job1");
    ASSERT_EQ(page->Navigate(base + "/Reports/SummaryTrends.asp"), 200);
    ASSERT_TRUE(page->WaitFor("window.Chart1 && Chart1.readyState === 4")) << page->BodyText();
    page->Evaluate("Chart1.setAttribute('data-tamsolo-record', ''); Chart1.GridColor = Chart1.GridColor; 0");
    EXPECT_TRUE(page->WaitFor("Chart1.tamsoloCalls.some(l => l.includes('] Polyline '))"))
        << page->Evaluate("Chart1.tamsoloCalls").dump();
    EXPECT_TRUE(page->Exceptions().empty()) << page->Exceptions().front();
  }
  // Run again, the site is kept as it is: no password is told, and it is served again.
  Process again(dir / "clone", {"scripts/run.sh"}, env);
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

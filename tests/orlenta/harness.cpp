#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "registry/registry.h"

extern char** environ;

namespace orlentatest {

Process::Process(const std::vector<std::string>& args, const std::vector<std::pair<std::string, std::string>>& env,
                 const std::filesystem::path& stderrFile) {
  std::vector<std::string> argStore{ORLENTA_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = name == "NOTIFY_SOCKET";  // only when a test asks for one
    for (const auto& [n, v] : env) replaced = replaced || n == name;
    if (!replaced) envStore.push_back(entry);
  }
  for (const auto& [n, v] : env) envStore.push_back(n + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = ::fork();
  if (pid_ == 0) {
    if (err >= 0) ::dup2(err, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (err >= 0) ::close(err);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Process::~Process() {
  if (!exit_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void Process::Signal(int sig) {
  if (!exit_) ::kill(pid_, sig);
}

std::optional<int> Process::WaitExit(std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!exit_) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(5ms);
  }
  return exit_;
}

bool Process::Running() { return !WaitExit(0ms).has_value(); }

NotifySocket::NotifySocket(const std::filesystem::path& path) : path_(path) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot bind the notification socket");
}

NotifySocket::~NotifySocket() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> NotifySocket::Receive(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
  char buf[4096];
  ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n < 0) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

OrlentaTest::OrlentaTest() {
  std::filesystem::create_directories(installDir);
  std::filesystem::create_directories(unitDir);
  WriteFakeSender(installDir);
}

void OrlentaTest::SetProductValue(const std::string& name, const std::string& value) {
  registry::WriteValue(registry::kVantrelKey, name, value);
}

void OrlentaTest::AddDatabase(const std::string& name, const std::string& data) {
  registry::WriteValue(registry::kDatabasesKey, name, data);
}

void OrlentaTest::StandardSetup(const std::string& schedule) {
  SetProductValue("LogDetailLevel", "1");
  SetProductValue("EMailSchedule", schedule);
  SetProductValue("INSTALLDIR", installDir.string());
}

void OrlentaTest::RegisterAppId() {
  registry::WriteValue("HKEY_CLASSES_ROOT\\AppID\\{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}", "", "Orlenta");
  registry::WriteValue("HKEY_CLASSES_ROOT\\AppID\\Orlenta.EXE", "AppID", "{A7AD5CEA-F3C5-459F-8CE8-530B5F7C8290}");
}

void OrlentaTest::WriteFakeSender(const std::filesystem::path& folder) {
  std::filesystem::path file = folder / "kesprin";
  testsupport::WriteFile(
      file,
      "#!/bin/sh\n"
      "blocked=$(sed -n 's/^SigBlk:[[:space:]]*//p' /proc/$$/status)\n"
      "session=$(cut -d' ' -f6 /proc/$$/stat)\n"
      "forked=$(cut -d' ' -f22 /proc/$$/stat)\n"
      "printf 'start\\t%s\\t%s\\t%s\\t%s\\t%s\\t%s\\t%s\\n' \"$#\" \"$1\" \"$(pwd -P)\" \"$(date +%s%N)\" "
      "\"$blocked\" \"$([ \"$session\" = $$ ] && echo own || echo shared)\" \"$forked\" >> \"$FAKE_SENDER_RECORD\"\n"
      "case \"$1\" in\n"
      "  *hang*) exec sleep 20 ;;\n"
      "  *hold*) i=0; while [ ! -e \"$FAKE_SENDER_RELEASE\" ] && [ $i -lt 500 ]; do sleep 0.02; "
      "i=$((i+1)); done ;;\n"
      "esac\n"
      "printf 'end\\t%s\\t%s\\n' \"$1\" \"$(date +%s%N)\" >> \"$FAKE_SENDER_RECORD\"\n");
  ::chmod(file.c_str(), 0755);
}

void OrlentaTest::Release() { testsupport::WriteFile(releaseFile, ""); }

std::unique_ptr<Process> OrlentaTest::Start(const std::vector<std::string>& args,
                                            const std::vector<std::pair<std::string, std::string>>& env) {
  return std::make_unique<Process>(args, env, dir / "stderr");
}

int OrlentaTest::Run(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env) {
  auto p = Start(args, env);
  auto code = p->WaitExit();
  EXPECT_TRUE(code.has_value()) << "orlenta did not end";
  return code.value_or(-1);
}

std::string OrlentaTest::Stderr() const { return testsupport::ReadFile(dir / "stderr"); }

namespace {

// The lines written so far; a line still being written (no newline yet) is left for later.
std::vector<std::string> CompleteLines(const std::filesystem::path& file) {
  std::string content = testsupport::ReadFile(file);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(content.substr(start, nl - start));
  return lines;
}

}  // namespace

std::vector<eventlog::Event> OrlentaTest::Events() const {
  std::vector<eventlog::Event> out;
  for (const std::string& line : CompleteLines(eventFile)) {
    eventlog::Event e;
    EXPECT_TRUE(eventlog::ParseLine(line, e)) << line;
    out.push_back(e);
  }
  return out;
}

std::vector<std::string> OrlentaTest::Texts() const {
  std::vector<std::string> out;
  for (const auto& e : Events()) out.push_back(e.text);
  return out;
}

size_t OrlentaTest::Count(const std::string& text) const {
  size_t n = 0;
  for (const auto& t : Texts()) n += t == text;
  return n;
}

bool OrlentaTest::WaitFor(const std::function<bool()>& condition) const {
  auto end = std::chrono::steady_clock::now() + kWait;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool OrlentaTest::WaitForText(const std::string& text, size_t times) const {
  return WaitFor([&] { return Count(text) >= times; });
}

void OrlentaTest::ClearEvents() const { std::filesystem::remove(eventFile); }

std::vector<SenderRecord> OrlentaTest::Records() const {
  std::vector<SenderRecord> out;
  for (const std::string& line : CompleteLines(recordFile)) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string field; std::getline(s, field, '\t');) fields.push_back(field);
    SenderRecord r;
    r.kind = fields.at(0);
    if (r.kind == "start" && fields.size() == 8) {
      r.argc = std::stoi(fields[1]);
      r.arg = fields[2];
      r.dir = fields[3];
      r.ns = std::stoll(fields[4]);
      r.blockedSignals = fields[5];
      r.ownSession = fields[6] == "own";
      r.forkedMs = std::stoll(fields[7]) * 1000 / ::sysconf(_SC_CLK_TCK);
    } else if (r.kind == "end" && fields.size() == 3) {
      r.arg = fields[1];
      r.ns = std::stoll(fields[2]);
    } else {
      ADD_FAILURE() << "unexpected record: " << line;
    }
    out.push_back(r);
  }
  return out;
}

std::vector<SenderRecord> OrlentaTest::Starts() const {
  std::vector<SenderRecord> out;
  for (auto& r : Records())
    if (r.kind == "start") out.push_back(r);
  return out;
}

}  // namespace orlentatest

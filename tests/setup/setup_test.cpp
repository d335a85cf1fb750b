// vantrel-setup as an operator runs it: a real process, its output and exit code, the file it
// leaves.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/database.h"
#include "core/lookups.h"
#include "core/password.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int exitCode = -1;
  std::string out, err;
};

// Runs the program with `input` on its standard input; fileSizeLimit > 0 makes every write beyond
// that many bytes fail.
Result RunSetup(const std::vector<std::string>& args, rlim_t fileSizeLimit = 0, const std::string& input = "") {
  std::vector<std::string> all{VANTREL_SETUP_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::close(in[1]);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    if (fileSizeLimit > 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing the process
      rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  // Small enough for the pipe's buffer: written whole before the program's output is read.
  EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(in[1]);
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  if (pid < 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    ::close(out[0]);
    ::close(err[0]);
    return r;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0 && ::poll(fds, 2, 60000) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> Query(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      rows.push_back(p ? p : "");
    }
  } else {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

size_t EntriesIn(const fs::path& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

TEST(SetupProgramTest, CreatesASiteAndSaysWhat) {
  testsupport::TempDir dir;
  fs::path file = dir / "site.db";
  Result r = RunSetup({file.string(), "--admin", "root1", "--password", "s3cret"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Created the site database " + file.string() + " at schema version 1.11."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Site administrator: root1."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Demo project"), std::string::npos);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
  EXPECT_EQ(Query(file, "SELECT CAST(round(DatabaseVersion * 100) AS INTEGER) FROM VantrelSite"),
            std::vector<std::string>{"111"});
  auto hash = Query(file, "SELECT Password FROM Users WHERE UserId = 'root1' AND SiteAdministrator = 1");
  ASSERT_EQ(hash.size(), 1u);
  EXPECT_TRUE(brisquel::VerifySecret(hash[0], "s3cret"));
  EXPECT_EQ(Query(file, "SELECT count(*) FROM Issues"), std::vector<std::string>{"0"});
}

TEST(SetupProgramTest, DemoAddsAProjectWithIssues) {
  testsupport::TempDir dir;
  fs::path file = dir / "demo.db";
  Result r = RunSetup({"--demo", file.string(), "--password", "pw", "--admin", "root"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Demo project 'Demo' with 6 issues"), std::string::npos) << r.out;
  EXPECT_EQ(Query(file, "SELECT ProjectCode FROM Projects"), std::vector<std::string>{"Demo"});
  EXPECT_EQ(Query(file, "SELECT count(*) FROM Issues WHERE ProjectId = 1"), std::vector<std::string>{"6"});
}

TEST(SetupProgramTest, AnExistingFileIsLeftAsItWas) {
  testsupport::TempDir dir;
  fs::path file = dir / "site.db";
  ASSERT_EQ(RunSetup({file.string(), "--admin", "first", "--password", "one"}).exitCode, 0);
  std::string before = testsupport::ReadFile(file);
  auto modified = fs::last_write_time(file);

  Result r = RunSetup({file.string(), "--admin", "second", "--password", "two", "--demo"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(file.string()), std::string::npos) << r.err;
  EXPECT_EQ(testsupport::ReadFile(file), before);
  EXPECT_EQ(fs::last_write_time(file), modified);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
  EXPECT_EQ(Query(file, "SELECT UserId FROM Users"), std::vector<std::string>{"first"});
}

TEST(SetupProgramTest, AFailureHalfWayLeavesNothingBehind) {
  testsupport::TempDir dir;
  fs::path file = dir / "site.db";
  // The new database is larger than this; writing it fails part of the way through.
  Result r = RunSetup({file.string(), "--admin", "root", "--password", "pw"}, 64 * 1024);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("vantrel-setup: "), std::string::npos);
  EXPECT_EQ(EntriesIn(dir.path()), 0u) << r.err;
  // The same command without the limit then succeeds.
  EXPECT_EQ(RunSetup({file.string(), "--admin", "root", "--password", "pw"}).exitCode, 0);
}

TEST(SetupProgramTest, BadCommandLinesAreExplained) {
  testsupport::TempDir dir;
  std::string file = (dir / "x.db").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
    int exitCode;
  } cases[] = {
      {{}, "No database file was given.", 2},
      {{file, "--password", "pw"}, "The site administrator's id (--admin) is missing.", 2},
      {{file, "--admin", "root"}, "The site administrator's password (--password-file or --password) is missing.", 2},
      {{file, "--admin"}, "--admin needs a value.", 2},
      {{file, "--admin", "a", "--admin", "b", "--password", "pw"}, "--admin is given twice.", 2},
      {{file, "--admin", "root", "--password", "pw", "--force"}, "Unknown option --force.", 2},
      {{file, "other.db", "--admin", "root", "--password", "pw"}, "Only one database file can be given", 2},
      {{file, "--admin", "9lives", "--password", "pw"},
       "Id must begin with a letter, and only contain letters and digits.", 1},
      {{file, "--admin", "root", "--password", ""}, "password cannot be blank.", 1},
      {{(dir / "no" / "x.db").string(), "--admin", "root", "--password", "pw"}, "does not exist.", 1},
      {{file, "--admin", "root", "--password-file", (dir / "none.txt").string()},
       "The password file " + (dir / "none.txt").string() + " cannot be read.", 1},
      {{file, "--admin", "root", "--password", "-"}, "No password was given on standard input.", 1},
      {{file, "--admin", "root", "--password-file"}, "--password-file needs a value.", 2},
      {{file, "--admin", "root", "--password", "pw", "--password-file", "f"}, "is given twice.", 2},
  };
  for (const auto& c : cases) {
    Result r = RunSetup(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Usage:") != std::string::npos, c.exitCode == 2) << r.err;
  }
  EXPECT_EQ(EntriesIn(dir.path()), 0u);

  Result help = RunSetup({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: vantrel-setup DATABASE_FILE --admin USER_ID --password-file PATH [--demo]", 0),
            0u);
}

// The password read from a file or from standard input (first line, its line end dropped): the
// administrator logs in with it.
TEST(SetupProgramTest, PasswordFromAFileOrStandardInput) {
  testsupport::TempDir dir;
  {
    std::ofstream(dir / "pw.txt") << "fromFile7\r\nsecond line\n";
  }
  struct Case {
    std::vector<std::string> options;
    std::string input, password;
  } cases[] = {
      {{"--password-file", (dir / "pw.txt").string()}, "", "fromFile7"},
      {{"--password", "-"}, "fromInput8\n", "fromInput8"},
      {{"--password", "-"}, "noLineEnd9", "noLineEnd9"},
  };
  int n = 0;
  for (const auto& c : cases) {
    fs::path file = dir / ("site" + std::to_string(++n) + ".db");
    std::vector<std::string> args{file.string(), "--admin", "root"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Result r = RunSetup(args, 0, c.input);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto db = sitedb::Open(file);
    EXPECT_TRUE(brisquel::Login(*db, "root", c.password)) << c.password;
    EXPECT_FALSE(brisquel::Login(*db, "root", c.password + "\n"));
  }
}

}  // namespace

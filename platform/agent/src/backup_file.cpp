// Backup files: written beside their final name and renamed without replacing anything.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "jobstore/jobstore.h"
#include "automation/automation.h"

namespace agent {

namespace {

[[noreturn]] void Stop(std::string text) {
  throw automation::ComError(kBackupFailed, std::string(kSource), std::move(text));
}

std::string Format(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

void Check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) Stop(what + ": " + sqlite3_errmsg(db));
}

void SyncPath(const std::filesystem::path& p, int flags) {
  int fd = ::open(p.c_str(), flags | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    std::string why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    Stop("The backup cannot be made durable (" + p.string() + "): " + why);
  }
  ::close(fd);
}

// Tests stop a run here (after the copy, before its final name) to kill it.
void TestPause() {
  const char* env = std::getenv("VANTREL_AGENT_TEST_PAUSE");
  if (env && *env) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::atof(env) * 1000)));
}

// The copy with its header, in rollback-journal mode so that the backup is one file.
void CopyInto(const std::filesystem::path& site, const std::string& databaseName, const std::filesystem::path& temp,
              const std::string& name, std::time_t start) {
  sqlite3* src = nullptr;
  sqlite3* dst = nullptr;
  struct Closer {
    sqlite3*& a;
    sqlite3*& b;
    ~Closer() {
      sqlite3_close(a);
      sqlite3_close(b);
    }
  } closer{src, dst};
  if (sqlite3_open_v2(site.c_str(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Stop("The site database " + site.string() + " cannot be opened: " + sqlite3_errmsg(src));
  sqlite3_busy_timeout(src, 10000);
  Check(dst, sqlite3_open_v2(temp.c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr), "The backup file cannot be opened");
  // One step copies everything in one read transaction: a stepped copy would restart at every write.
  sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
  if (!b) Stop(std::string("The backup cannot begin: ") + sqlite3_errmsg(dst));
  int rc = sqlite3_backup_step(b, -1);
  sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) Stop(std::string("The copy failed: ") + sqlite3_errstr(rc));
  Check(dst, sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr), "The copy failed");
  sqlite3_stmt* st = nullptr;
  Check(dst,
        sqlite3_exec(dst,
                     "CREATE TABLE VantrelBackupHeader (BackupName TEXT NOT NULL, BackupStartDate TEXT NOT NULL, "
                     "BackupSize INTEGER NOT NULL, DatabaseName TEXT NOT NULL, DatabaseVersion TEXT NOT NULL)",
                     nullptr, nullptr, nullptr),
        "The backup header cannot be written");
  Check(dst,
        sqlite3_prepare_v2(dst,
                           "INSERT INTO VantrelBackupHeader SELECT ?, ?, (SELECT page_count * page_size FROM "
                           "pragma_page_count, pragma_page_size), ?, coalesce((SELECT CAST(DatabaseVersion AS TEXT) "
                           "FROM VantrelSite LIMIT 1), '')",
                           -1, &st, nullptr),
        "The backup header cannot be written");
  std::string date = Format(start, "%Y-%m-%d %H:%M:%S.000");
  sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, date.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 3, databaseName.c_str(), -1, SQLITE_TRANSIENT);
  rc = sqlite3_step(st);
  sqlite3_finalize(st);
  Check(dst, rc, "The backup header cannot be written");
}

}  // namespace

void WriteBackupFile(const std::filesystem::path& site, const std::filesystem::path& final,
                     const std::string& databaseName, std::time_t start) {
  std::string pattern = (final.parent_path() / ("." + final.filename().string() + ".part-XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) Stop("The backup file cannot be created in " + final.parent_path().string() + ": " + std::strerror(errno));
  ::close(fd);
  std::filesystem::path temp = pattern;
  try {
    CopyInto(site, databaseName, temp, final.stem().string(), start);
    SyncPath(temp, O_RDONLY);
    TestPause();
    // link() never replaces: an existing final name fails the run.
    if (::link(temp.c_str(), final.c_str()) != 0) Stop(final.string() + " cannot be written: " + std::strerror(errno));
    ::unlink(temp.c_str());
    ::chmod(final.c_str(), 0640);
    SyncPath(final.parent_path(), O_RDONLY | O_DIRECTORY);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::path journal = temp;
    journal += "-journal";
    std::filesystem::remove(journal, ec);
    throw;
  }
}

std::string IntegrityCheck(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  std::string result = "the file cannot be opened";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace agent

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

#include "ado/errors.h"
#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "automation/failure_reason.h"

namespace agent {

namespace {

[[noreturn]] void Stop(const std::string& what, std::string_view reason) {
  BackupFileError e;
  e.number = kBackupFailed;
  e.source = std::string(kSource);
  e.reason = std::string(reason);
  e.description = what + ": " + e.reason + ".";
  throw e;
}

// Why the engine failed, in the same words as a file's failure; a failure the engine words alone
// (an SQL error) is the engine refusing the copy.
std::string_view EngineReason(int rc) {
  std::string_view why = ado::EngineFailureReason(rc);
  if (!why.empty()) return why;
  if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) return "the site is in use";
  return "the database engine refuses it";
}

std::string Format(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

void Check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE)
    Stop(what, EngineReason(db ? ado::EngineFailureCode(db, sqlite3_extended_errcode(db)) : rc));
}

void SyncPath(const std::filesystem::path& p, int flags) {
  int fd = ::open(p.c_str(), flags | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    Stop("The backup file cannot be made durable", automation::FileFailureReason(error));
  }
  ::close(fd);
}

// Tests stop a run here (after the copy, before its final name) to kill it.
void TestPause() {
  const char* env = std::getenv("VANTREL_AGENT_TEST_PAUSE");
  if (env && *env) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::atof(env) * 1000)));
}

// The copy with its header, in rollback-journal mode so that the backup is one file.
void CopyInto(sqlite3* src, const std::string& databaseName, const std::filesystem::path& temp,
              const std::string& name, std::time_t start) {
  sqlite3* dst = nullptr;
  struct Closer {
    sqlite3*& db;
    ~Closer() { sqlite3_close(db); }
  } closer{dst};
  Check(dst, sqlite3_open_v2(temp.c_str(), &dst, SQLITE_OPEN_READWRITE, nullptr), "The backup file cannot be opened");
  // One step copies everything in one read transaction: a stepped copy would restart at every write.
  sqlite3_backup* b = sqlite3_backup_init(dst, "main", src, "main");
  if (!b) Stop("The backup cannot begin", EngineReason(sqlite3_extended_errcode(dst)));
  int rc = sqlite3_backup_step(b, -1);
  sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) Stop("The site cannot be copied into the backup file", EngineReason(ado::EngineFailureCode(dst, rc)));
  Check(dst, sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr),
        "The backup file cannot be written");
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

void WriteBackupFile(sqlite3* site, const std::filesystem::path& final, const std::string& databaseName,
                     std::time_t start, const std::function<void()>& durable) {
  std::string pattern = (final.parent_path() / ("." + final.filename().string() + ".part-XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) Stop("The backup file cannot be created", automation::FileFailureReason(errno));
  ::close(fd);
  std::filesystem::path temp = pattern;
  try {
    CopyInto(site, databaseName, temp, final.stem().string(), start);
    SyncPath(temp, O_RDONLY);
    TestPause();
    if (durable) durable();
    // link() never replaces: an existing final name fails the run.
    if (::link(temp.c_str(), final.c_str()) != 0) {
      if (errno == EEXIST) Stop("The backup file cannot be given its name", "a file of that name is already there");
      Stop("The backup file cannot be given its name", automation::FileFailureReason(errno));
    }
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

void WriteBackupFile(const std::filesystem::path& site, const std::filesystem::path& final,
                     const std::string& databaseName, std::time_t start) {
  sqlite3* src = nullptr;
  struct Closer {
    sqlite3*& db;
    ~Closer() { sqlite3_close(db); }
  } closer{src};
  if (sqlite3_open_v2(site.c_str(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Stop("The site database cannot be opened",
         EngineReason(src ? ado::EngineFailureCode(src, sqlite3_extended_errcode(src)) : SQLITE_CANTOPEN));
  sqlite3_busy_timeout(src, 10000);
  WriteBackupFile(src, final, databaseName, start);
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

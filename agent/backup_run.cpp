// A backup run: a stamped copy of the live site made in one read transaction (writers go on in
// the WAL), written beside its final name, made durable and then renamed without replacing
// anything; then the optional check of the copy and the removal of this site's old files.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <thread>

#include "backup.h"

namespace vagent {

namespace {

struct RunError {
  std::string text;
};
[[noreturn]] void Stop(std::string text) { throw RunError{std::move(text)}; }

std::string Format(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

class Report {
 public:
  explicit Report(const std::filesystem::path& file) {
    fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd_ < 0) Stop("The report file " + file.string() + " cannot be created: " + std::strerror(errno));
  }
  ~Report() {
    if (fd_ >= 0) {
      ::fsync(fd_);
      ::close(fd_);
    }
  }
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  void Line(const std::string& text) {
    lines_ += text + "\n";
    std::string l = text + "\n";
    if (::write(fd_, l.data(), l.size()) < 0) {
      // The run's outcome does not depend on its report; the history keeps the text.
    }
  }
  const std::string& Text() const { return lines_; }

 private:
  int fd_ = -1;
  std::string lines_;
};

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
void CopyInto(const MaintenancePlan& plan, const std::filesystem::path& temp, const std::string& name,
              std::time_t start) {
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
  if (sqlite3_open_v2(plan.server.c_str(), &src, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Stop("The site database " + plan.server + " cannot be opened: " + sqlite3_errmsg(src));
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
  sqlite3_bind_text(st, 3, plan.database.c_str(), -1, SQLITE_TRANSIENT);
  rc = sqlite3_step(st);
  sqlite3_finalize(st);
  Check(dst, rc, "The backup header cannot be written");
}

void MakeBackup(const MaintenancePlan& plan, const std::filesystem::path& final, std::time_t start) {
  std::string pattern = (plan.backupFolder / ("." + final.filename().string() + ".part-XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) Stop("The backup file cannot be created in " + plan.backupFolder.string() + ": " + std::strerror(errno));
  ::close(fd);
  std::filesystem::path temp = pattern;
  try {
    CopyInto(plan, temp, final.stem().string(), start);
    SyncPath(temp, O_RDONLY);
    TestPause();
    // link() never replaces: an existing final name fails the run.
    if (::link(temp.c_str(), final.c_str()) != 0) Stop(final.string() + " cannot be written: " + std::strerror(errno));
    ::unlink(temp.c_str());
    ::chmod(final.c_str(), 0640);
    SyncPath(plan.backupFolder, O_RDONLY | O_DIRECTORY);
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::path journal = temp;
    journal += "-journal";
    std::filesystem::remove(journal, ec);
    throw;
  }
}

std::string IntegrityOf(const std::filesystem::path& file) {
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

// Removes the files of `folder` whose names match `re` (group 1 the stamp) and whose stamp is
// older than `cutoff` ("yyyymmddhhmm"); leftovers of interrupted copies whatever their age.
void RemoveOld(const std::filesystem::path& folder, const std::regex& re, const std::string& cutoff,
               const std::string& leftoverPrefix, Report& report) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    std::smatch m;
    bool old = !cutoff.empty() && std::regex_match(name, m, re) && m[1].str() < cutoff;
    bool leftover = !leftoverPrefix.empty() && name.rfind(leftoverPrefix, 0) == 0 && name.find(".part-") != std::string::npos;
    if ((old || leftover) && entry.is_regular_file(ec)) {
      std::filesystem::remove(entry.path(), ec);
      if (old) report.Line("Deleted old file " + entry.path().string());
    }
  }
}

std::string Escape(const std::string& s) { return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"); }

}  // namespace

bool RunBackup(const MaintenancePlan& plan, std::time_t start, std::string& message) {
  const std::string stamp = Format(start, "%Y%m%d%H%M");
  const std::filesystem::path final = plan.backupFolder / (plan.database + "_db_" + stamp + ".bak");
  const std::filesystem::path reportFile = plan.report.parent_path() / ("BackupLog_" + stamp + ".txt");
  try {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(final, ec)))
      Stop("The backup file " + final.string() + " already exists; nothing was overwritten.");
    Report report(reportFile);
    report.Line("Backup of database " + plan.database + " (" + plan.server + ") started " +
                Format(start, "%Y-%m-%d %H:%M:%S"));
    // Copies an earlier run left unfinished go first.
    RemoveOld(plan.backupFolder, std::regex("$^"), "", "." + plan.database + "_db_", report);
    try {
      MakeBackup(plan, final, start);
      report.Line("Backed up to " + final.string());
      if (plan.checkDatabase) {
        std::string check = IntegrityOf(final);
        if (check != "ok") Stop("The integrity check of " + final.string() + " failed: " + check);
        report.Line("Integrity check of the backup: ok");
      }
      auto cutoff = [&](int weeks) { return Format(start - static_cast<std::time_t>(weeks) * 7 * 86400, "%Y%m%d%H%M"); };
      if (plan.deleteBackupsWeeks > 0)
        RemoveOld(plan.backupFolder, std::regex(Escape(plan.database) + "_db_([0-9]{12})\\.bak"),
                  cutoff(plan.deleteBackupsWeeks), "", report);
      if (plan.deleteReportsWeeks > 0)
        RemoveOld(reportFile.parent_path(), std::regex("BackupLog_([0-9]{12})\\.txt"), cutoff(plan.deleteReportsWeeks),
                  "", report);
    } catch (const RunError& e) {
      report.Line(e.text);
      throw;
    }
    report.Line("Backup finished.");
    message = report.Text();
    return true;
  } catch (const RunError& e) {
    message = e.text;
    return false;
  }
}

}  // namespace vagent

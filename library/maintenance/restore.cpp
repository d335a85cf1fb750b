// Restoring the site from a backup of its backup folder. The backup is checked in a staging copy
// beside the site, a safety copy of the live site is written, and the staging copy replaces the
// live content in one write transaction of the live database, so every other connection sees
// the old site or the new one, never a mix; their writers wait and go on afterwards.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "ado/connection.h"
#include "ado/row_version.h"
#include "automation/text.h"
#include "automation/vbdate.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/writer.h"
#include "eventlog/eventlog.h"
#include "maintenance/db_admin.h"
#include "schema/upgrade.h"

namespace brisquel {

namespace {

namespace fs = std::filesystem;
constexpr std::string_view kClass = "DbAdmin";
// This site's schema version times 100.
constexpr int kSchemaVersion = 111;
// The row versions of the restored site start this far above the live site's, so a recordset
// read before the restore meets a conflict instead of overwriting a restored row.
constexpr int64_t kRowVersionMargin = 1000000000;
constexpr int32_t kRestoreRefused = static_cast<int32_t>(0x80045530);

[[noreturn]] void Refused(const std::string& text) {
  throw automation::ComError(kRestoreRefused, std::string(kClass), text);
}

struct Connection {
  sqlite3* db = nullptr;
  explicit Connection(const fs::path& file) {
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      Refused(file.string() + " cannot be opened: " + sqlite3_errmsg(db));
    sqlite3_busy_timeout(db, 10000);
  }
  ~Connection() { sqlite3_close(db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  std::string Text(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Refused(sqlite3_errmsg(db));
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW && sqlite3_column_text(st, 0)) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Refused(sqlite3_errmsg(db));
    return out;
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Refused(sqlite3_errmsg(db));
  }
};

std::string StagingPrefix(const fs::path& site) { return "." + site.filename().string() + ".restore-"; }

// Staging copies an interrupted restore left behind.
void RemoveStaging(const fs::path& site) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(site.parent_path(), ec))
    if (e.path().filename().string().rfind(StagingPrefix(site), 0) == 0) fs::remove(e.path(), ec);
}

// Tests pause a restore at a named point of its way (VANTREL_RESTORE_TEST_PAUSE=<point>): the
// process stops itself there, for the test to kill it or let it go on.
void TestPause(std::string_view point) {
  const char* env = std::getenv("VANTREL_RESTORE_TEST_PAUSE");
  if (env && point == env) ::raise(SIGSTOP);
}

// The backup's schema version times 100; an empty one is the first release's (it had no site row).
int SchemaVersion(const std::string& text) {
  if (text.empty()) return 100;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end) Refused("The backup's schema version " + text + " is not a version number.");
  return static_cast<int>(std::lround(v * 100));
}

std::string VersionText(int version) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d.%02d", version / 100, version % 100);
  return buf;
}

// The backup's header fits this site; its schema version times 100.
int CheckHeader(const agent::BackupHeader& h, const std::string& database, const std::string& set) {
  if (!automation::EqualsNoCase(h.databaseName, database))
    Refused("The backup holds the database " + h.databaseName + ", not " + database + ".");
  if (!set.empty() && !automation::EqualsNoCase(set, h.backupName))
    Refused("The backup's media name is " + h.backupName + ", not " + set + ".");
  int version = SchemaVersion(h.databaseVersion);
  if (version > kSchemaVersion)
    Refused("The backup has schema version " + VersionText(version) + ", newer than this site's " +
            VersionText(kSchemaVersion) + ".");
  return version;
}

// A backup of an earlier schema is brought to this one in the staging copy, before it goes live,
// with the indexes and kept counts a new site has.
void UpgradeStaging(const fs::path& staging) {
  auto connection = std::make_shared<ado::Connection>();
  connection->Open("Data Source=" + staging.string());
  std::make_shared<DbUpgrader>()->Upgrade(connection);
  connection->Close();
}

// The checked staging copy, without its header table, at this site's schema version.
fs::path Stage(const fs::path& backup, const fs::path& site, const std::string& database, const std::string& set,
               std::vector<std::string>& messages) {
  agent::BackupHeader h = agent::ReadBackupHeader(backup);
  const int version = CheckHeader(h, database, set);
  std::string pattern = (site.parent_path() / (StagingPrefix(site) + "XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) Refused("The staging copy cannot be created beside the site: " + std::string(std::strerror(errno)));
  ::close(fd);
  // A refused backup leaves no copy of itself beside the site.
  try {
    fs::copy_file(backup, pattern, fs::copy_options::overwrite_existing);
    // The copy takes the backup's mode; the staging copy is to become the site, shared with the group.
    std::error_code ec;
    fs::permissions(pattern, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                 fs::perms::group_write, fs::perm_options::replace, ec);
    if (ec) Refused("The staging copy's mode cannot be set: " + ec.message());
    TestPause("staged");
    {
      Connection staging(pattern);
      std::string check = staging.Text("PRAGMA integrity_check");
      if (check != "ok") Refused("The backup failed its integrity check: " + check);
      staging.Exec("DROP TABLE VantrelBackupHeader");
    }
    messages.push_back("Backup header checked: " + h.backupName + " of database " + h.databaseName + ", schema " +
                       VersionText(version) + ", made " + h.backupStartDate.substr(0, 19) + ".");
    // Also a backup of this schema: one made by an earlier release may lack indexes or the kept
    // issue counts, which the upgrader completes (it leaves a complete one untouched).
    UpgradeStaging(pattern);
    if (version < kSchemaVersion)
      messages.push_back("Backup upgraded from " + VersionText(version) + " to " + VersionText(kSchemaVersion) + ".");
  } catch (...) {
    std::error_code ec;
    fs::remove(pattern, ec);
    throw;
  }
  return pattern;
}

void Replace(const fs::path& staging, const fs::path& site, std::vector<std::string>& messages) {
  auto started = std::chrono::steady_clock::now();
  Connection live(site);
  Connection source(staging);
  std::string version = live.Text("select Version from VantrelRowVersion where Id = 1");
  // Every restored row takes a version above any the live site handed out: a recordset read before
  // the restore then meets a conflict instead of overwriting the restored row.
  source.Exec("BEGIN IMMEDIATE");
  source.Exec("update VantrelRowVersion set Version = " +
              std::to_string(std::atoll(version.c_str()) + kRowVersionMargin) + " where Id = 1");
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(source.db, "select name from sqlite_master where type = 'table'", -1, &st, nullptr) ==
      SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW)
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  for (const std::string& t : tables)
    if (ado::HasRowVersion(source.db, t))
      source.Exec("update " + ado::QuoteIdentifier(t) + " set LastUpdated = LastUpdated");
  source.Exec("COMMIT");
  TestPause("versioned");
  sqlite3_backup* b = sqlite3_backup_init(live.db, "main", source.db, "main");
  if (!b) Refused(std::string("The restore cannot begin: ") + sqlite3_errmsg(live.db));
  int rc = sqlite3_backup_step(b, -1);
  int pages = sqlite3_backup_pagecount(b);
  sqlite3_backup_finish(b);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
    Refused("The site is in use: the restore gave up waiting for it and changed nothing.");
  if (rc != SQLITE_DONE) Refused(std::string("The restore failed: ") + sqlite3_errstr(rc));
  TestPause("replaced");
  sqlite3_wal_checkpoint_v2(live.db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d pages copied in %.3f seconds.", pages, seconds);
  messages.push_back(buf);
}

void AppendLine(const std::string& logFile, const std::string& text) {
  if (logFile.empty()) return;
  std::ofstream out(logFile, std::ios::binary | std::ios::app);
  out << text << "\n";
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
  return out;
}

// The backup must be a plain file name in the configured backup folder.
bool InBackupFolder(DbAdmin& a, const std::string& path, const std::string& file) {
  auto folder = BackupFolder(a);
  std::error_code ec;
  fs::path given = fs::weakly_canonical(path, ec);
  if (!folder || ec || given != *folder) return false;
  if (file == "." || file == ".." || file.find('/') != std::string::npos) return false;
  return fs::is_regular_file(fs::symlink_status(*folder / file, ec));
}

std::string Restore(DbAdmin& a, const fs::path& backup, const std::string& set, std::vector<std::string>& messages) {
  const fs::path site = a.Parms().serverName;
  const std::string database = a.Parms().databaseName;
  const std::string connection = a.GetConnectionString();
  RemoveStaging(site);
  fs::path staging;
  try {
    staging = Stage(backup, site, database, set, messages);
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
    fs::path safety = backup.parent_path() / (database + "_prerestore_" + stamp + ".bak");
    if (fs::exists(safety)) {
      // Two restores within one second: the second safety copy takes the next second's name.
      std::this_thread::sleep_for(std::chrono::seconds(1));
      now = std::time(nullptr);
      localtime_r(&now, &tm);
      std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
      safety = backup.parent_path() / (database + "_prerestore_" + stamp + ".bak");
    }
    agent::WriteBackupFile(site, safety, database, now);
    messages.push_back("Safety copy of the site before the restore: " + safety.filename().string());
    TestPause("safety");
    a.CloseSite();
    Replace(staging, site, messages);
  } catch (...) {
    std::error_code ec;
    if (!staging.empty()) fs::remove(staging, ec);
    a.SetConnectionString(connection);
    throw;
  }
  TestPause("checkpointed");
  std::error_code ec;
  fs::remove(staging, ec);
  a.SetConnectionString(connection);
  return Joined(messages);
}

}  // namespace

std::string DoRestore(DbAdmin& a, const std::string& backupPath, const std::string& backupFile,
                      const std::string& backupSet, const std::string& submittedByUserId) {
  return Procedure(kClass, "DoRestore", [&]() -> std::string {
    Database& db = a.Site();
    db.SetLastErrorMessage("");
    auto refuse = [&](std::string sentence) {
      db.Fail(std::move(sentence));
      return std::string();
    };
    if (!UserIsSiteAdmin(db, submittedByUserId)) return refuse(kPermissionDenied);
    if (backupPath.empty()) return refuse("Backup folder cannot be blank.");
    if (backupFile.empty()) return refuse("Backup file cannot be blank.");
    a.ConnectToDMO();
    if (!InBackupFolder(a, backupPath, backupFile))
      return refuse("The backup to restore must be a file of the site's backup folder.");
    const std::string database = a.Parms().databaseName;
    const std::string logFile = GetBackupLogFile(a, backupFile);
    const std::string start = "Restore of database " + database + " from " + backupPath + "/" + backupFile +
                              (backupSet.empty() ? "" : " (" + backupSet + ")") + " started at " +
                              automation::FormatDate(automation::Now());
    AppendLine(logFile, start);
    eventlog::Information(start);
    a.DisconnectDMO();
    std::vector<std::string> messages;
    std::string result = Restore(a, fs::path(backupPath) / backupFile, backupSet, messages);
    a.SetRestoreMessages(result);
    const std::string end = "Restore of database " + database + " completed successfully.";
    AppendLine(logFile, end);
    AppendLine(logFile, result);
    eventlog::Information(end);
    eventlog::Information(result);
    return result;
  });
}

}  // namespace brisquel

// Restoring the site from a backup of its backup folder. The backup is checked in a staging copy
// beside the site; then, under one write lock of the live site, a safety copy of it is written and
// the staging copy replaces its content in the same write transaction. Every write another
// connection committed before the lock is in the safety copy, every later one waits for the lock
// and lands in the restored site; readers see the old site or the new one, never a mix.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
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
#include "ado/errors.h"
#include "ado/row_version.h"
#include "automation/failure_reason.h"
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
constexpr const char* kInUse = "The site is in use: the restore gave up waiting for it and changed nothing.";

[[noreturn]] void Refused(const std::string& text) {
  throw automation::ComError(kRestoreRefused, std::string(kClass), text);
}

// A failure of the restore's own work, before the site changed: what failed and why.
[[noreturn]] void Failed(const std::string& what, std::string_view why) {
  Refused(what + ": " + std::string(why) + ". The restore changed nothing.");
}

// Why the engine failed, in the words of a file's failure.
std::string_view EngineReason(int rc) {
  std::string_view why = ado::EngineFailureReason(rc);
  return why.empty() ? std::string_view("the database engine refuses it") : why;
}

struct Connection {
  sqlite3* db = nullptr;
  // `what` names the file in the sentences of its failures ("The staging copy of the backup").
  Connection(const fs::path& file, std::string what) : what(std::move(what)) {
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      Failed(this->what + " cannot be opened",
             EngineReason(db ? ado::EngineFailureCode(db, sqlite3_extended_errcode(db)) : SQLITE_CANTOPEN));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 10000);
  }
  ~Connection() { sqlite3_close(db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  [[noreturn]] void Fail(int rc) {
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) Refused(kInUse);
    Failed(what + " cannot be read or written", EngineReason(ado::EngineFailureCode(db, rc)));
  }
  std::string Text(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sqlite3_extended_errcode(db));
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW && sqlite3_column_text(st, 0)) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(sqlite3_extended_errcode(db));
    return out;
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sqlite3_extended_errcode(db));
  }
  std::string what;
};

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string StagingPrefix(const fs::path& site) { return "." + site.filename().string() + ".restore-"; }
// The safety copy's file while it is written (agent::WriteBackupFile's ".<name>.part-XXXXXX").
std::string PartialSafetyPrefix(const std::string& database) { return "." + database + "_prerestore_"; }

// A database file that is done with, and the journal files the engine may have left beside it.
void RemoveDatabaseFile(const fs::path& file) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(file.string() + suffix, ec);
}

// What restores that were killed left behind: staging copies beside the site (with their journal
// files) and partial safety copies in the backup folder. Only under the restore lock, so never a
// running restore's.
void RemoveLeftovers(const fs::path& site, const fs::path& backups, const std::string& database) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(site.parent_path(), ec))
    if (e.path().filename().string().starts_with(StagingPrefix(site))) fs::remove(e.path(), ec);
  for (const auto& e : fs::directory_iterator(backups, ec))
    if (e.path().filename().string().starts_with(PartialSafetyPrefix(database))) fs::remove(e.path(), ec);
}

// One restore of a folder's sites at a time: the lock of the site's folder (released with the
// process, however it ends), so a restore never removes what another one is working on.
class RestoreLock {
 public:
  explicit RestoreLock(const fs::path& site) {
    folder_.fd = ::open(site.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_.fd < 0) Failed("The site's folder cannot be opened", automation::FileFailureReason(errno));
    if (::flock(folder_.fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) Refused("Another restore of a site of this folder is running: this one changed nothing.");
      Failed("The site's folder cannot be locked", automation::FileFailureReason(errno));
    }
  }

 private:
  FileDescriptor folder_;
};

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

// The backup into the staging copy `out` (open, empty), which is to become the site: 0660, shared
// with the group, whatever the backup's own mode. A read and a write failure say which it was.
void CopyBackup(const fs::path& backup, int out) {
  constexpr const char* kUnwritable = "The staging copy of the backup cannot be written";
  FileDescriptor in{::open(backup.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) Failed("The backup cannot be read", automation::FileFailureReason(errno));
  if (::fchmod(out, 0660) != 0) Failed(kUnwritable, automation::FileFailureReason(errno));
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Failed("The backup cannot be read", automation::FileFailureReason(errno));
    if (n == 0) return;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) Failed(kUnwritable, automation::FileFailureReason(errno));
      done += w;
    }
  }
}

// A backup of an earlier schema is brought to this one in the staging copy, before it goes live,
// with the indexes and kept counts a new site has.
void UpgradeStaging(const fs::path& staging) {
  auto connection = std::make_shared<ado::Connection>();
  try {
    connection->Open("Data Source=" + staging.string());
    std::make_shared<DbUpgrader>()->Upgrade(connection);
  } catch (const automation::ComError&) {
    // The disk failing the upgrade is the restore's to say; a backup the upgrade refuses says why.
    const ado::ErrorInfo* first = connection->ErrorList().First();
    if (first && !ado::EngineFailureReason(first->engineCode).empty())
      Failed("The backup cannot be upgraded in its staging copy", ado::EngineFailureReason(first->engineCode));
    throw;
  }
  connection->Close();
}

// The checked staging copy, without its header table, at this site's schema version.
fs::path Stage(const fs::path& backup, const fs::path& site, const std::string& database, const std::string& set,
               std::vector<std::string>& messages) {
  agent::BackupHeader h;
  try {
    h = agent::ReadBackupHeader(backup);
  } catch (const automation::ComError& e) {
    // Said by the file's name: the folder is the page's own.
    if (e.number != agent::kNotABackup) throw;
    Refused("The file " + backup.filename().string() + " is not a backup of a Vantrel site.");
  }
  const int version = CheckHeader(h, database, set);
  std::string pattern = (site.parent_path() / (StagingPrefix(site) + "XXXXXX")).string();
  FileDescriptor out{::mkstemp(pattern.data())};
  if (out.fd < 0) Failed("The staging copy of the backup cannot be created", automation::FileFailureReason(errno));
  // A refused backup leaves no copy of itself beside the site.
  try {
    CopyBackup(backup, out.fd);
    ::close(out.fd);
    out.fd = -1;
    TestPause("staged");
    {
      Connection staging(pattern, "The staging copy of the backup");
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
    RemoveDatabaseFile(pattern);
    throw;
  }
  return pattern;
}

// The name of the safety copy: the database's name and the second it is taken.
fs::path SafetyName(const fs::path& backups, const std::string& database, std::time_t& now) {
  for (;;) {
    now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
    fs::path safety = backups / (database + "_prerestore_" + stamp + ".bak");
    if (!fs::exists(safety)) return safety;
    // Two restores within one second: the second safety copy takes the next second's name.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// The staging copy's pages written over the live site. The copy takes the site's write lock at
// its first step and holds it to its end; in between, the site as it stands is written to the
// safety copy by a reader, so nothing commits between the safety copy and the replacement.
void Replace(const fs::path& staging, const fs::path& site, const fs::path& safety, const std::string& database,
             std::time_t now, std::vector<std::string>& messages) {
  auto started = std::chrono::steady_clock::now();
  Connection live(site, "The site");
  Connection source(staging, "The staging copy of the backup");
  Connection reader(site, "The site");
  struct Copy {
    sqlite3_backup* b;
    ~Copy() {
      if (b) sqlite3_backup_finish(b);  // an unfinished copy is rolled back, the lock released
    }
  } copy{sqlite3_backup_init(live.db, "main", source.db, "main")};
  if (!copy.b) live.Fail(sqlite3_extended_errcode(live.db));
  int rc = sqlite3_backup_step(copy.b, 0);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) Refused(kInUse);
  if (rc != SQLITE_OK) Failed("The site cannot be replaced", EngineReason(ado::EngineFailureCode(live.db, rc)));
  TestPause("locked");
  // The reader's snapshot is the site as the lock found it: every write committed before it.
  reader.Exec("BEGIN");
  std::string version = reader.Text("select Version from VantrelRowVersion where Id = 1");
  try {
    agent::WriteBackupFile(reader.db, safety, database, now, [] { TestPause("safety-durable"); });
  } catch (const agent::BackupFileError& e) {
    Failed("The safety copy of the site cannot be written", e.reason);
  }
  reader.Exec("COMMIT");
  messages.push_back("Safety copy of the site before the restore: " + safety.filename().string());
  TestPause("safety");
  // Every restored row takes a version above any the live site handed out: a recordset read
  // before the restore then meets a conflict instead of overwriting the restored row. The copy
  // follows changes made through its own source connection.
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
  rc = sqlite3_backup_step(copy.b, -1);
  // A failed copy is rolled back as it is finished; the safety copy stays, a backup like any other.
  if (rc != SQLITE_DONE) Failed("The site cannot be replaced", EngineReason(ado::EngineFailureCode(live.db, rc)));
  const int pages = sqlite3_backup_pagecount(copy.b);
  sqlite3_backup_finish(copy.b);
  copy.b = nullptr;
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
  fs::path staging;
  try {
    RestoreLock lock(site);
    RemoveLeftovers(site, backup.parent_path(), database);
    staging = Stage(backup, site, database, set, messages);
    std::time_t now = 0;
    const fs::path safety = SafetyName(backup.parent_path(), database, now);
    a.CloseSite();
    Replace(staging, site, safety, database, now, messages);
    TestPause("checkpointed");
    RemoveDatabaseFile(staging);
  } catch (...) {
    if (!staging.empty()) RemoveDatabaseFile(staging);
    a.SetConnectionString(connection);
    throw;
  }
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

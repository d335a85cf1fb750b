// DbAdmin: the maintenance object behind the site's backup and restore pages, one per request.
// It holds the connection to the site database and, while an operation needs it, the management
// connection to the job agent's store. Its members live in the files of their families and
// register themselves by name on this class.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <string>

#include "jobstore/jobstore.h"
#include "automation/automation.h"
#include "core/database.h"

namespace brisquel {

class MultipartFormData;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// The items of a connection string that reach the job agent (see GetConnectionParms).
struct ConnectionParms {
  std::string serverName;  // the Data Source: "." for "(local)", else the site's absolute file path
  std::string databaseName;
  bool integratedSecurity = false;
  std::string loginName, loginPassword;
};
// Splits a connection string into its items; keys compare without regard to case, items are not
// trimmed, the first of each key counts.
ConnectionParms GetConnectionParms(const std::string& connectionString);

class DbAdmin : public automation::Dispatchable<DbAdmin> {
 public:
  DbAdmin() = default;
  ~DbAdmin() override;
  DbAdmin(const DbAdmin&) = delete;
  DbAdmin& operator=(const DbAdmin&) = delete;

  std::string GetConnectionString() const { return connectionString_; }
  // Opens the site connection; a failure is an expected one (LastErrorMessage), never raised.
  void SetConnectionString(const std::string& s);
  std::string GetLastErrorMessage() { return site_->GetLastErrorMessage(); }

  // The site connection, with the reader and writer patterns and LastErrorMessage.
  Database& Site() { return *site_; }
  // Closes the site connection (a restore replaces the file under it); LastErrorMessage stays.
  void CloseSite();
  const ConnectionParms& Parms() const { return parms_; }

  // (Re)opens the management connection from the connection string's items.
  void ConnectToDMO();
  // The management connection; ConnectToDMO first.
  agent::Store& Management();
  void DisconnectDMO() { management_.reset(); }

  // DoBackup's pause before each pass of its wait for the agent (seconds); tests shorten it.
  void SetPause(std::function<void(int)> pause) { pause_ = std::move(pause); }
  void Pause(int seconds);

  const std::string& RestoreMessages() const { return restoreMessages_; }
  void SetRestoreMessages(std::string m) { restoreMessages_ = std::move(m); }

 private:
  std::string connectionString_;
  std::unique_ptr<Database> site_ = std::make_unique<Database>();
  ConnectionParms parms_;
  std::unique_ptr<agent::Store> management_;
  std::function<void(int)> pause_;
  std::string restoreMessages_;
};

// Server access (db_admin.cpp).
bool FolderExists(DbAdmin& a, const std::string& filename);
std::string GetConnectionStringForMasterDb(DbAdmin& a);

// Backup settings and the job (backup_settings.cpp).
RecordsetPtr GetBackupRs(DbAdmin& a);
RecordsetPtr GetBackupFrequencyRs(DbAdmin& a);
RecordsetPtr GetBackupTimesRs(DbAdmin& a);
RecordsetPtr GetBackupRetentionRs(DbAdmin& a);
// Site administrators only.
bool UpdateBackup(DbAdmin& a, const std::string& userId, RecordsetPtr rsBackup,
                  std::shared_ptr<MultipartFormData> formData);
bool InitializeJobSchedule(DbAdmin& a, const std::string& vDirPath);
// The job's step command for the settings (no password ever stands in it); `expiryWeeks` is "" or
// one digit.
std::string BackupCommand(const ConnectionParms& p, const std::string& archive, const std::string& expiryWeeks);

// Backup history, report files and the backups of the folder (backup_history.cpp). Only the
// configured backup folder is read: another folder or file gets a sentence and no rows.
RecordsetPtr GetBackupHistoryRs(DbAdmin& a);
RecordsetPtr GetBackupLogRs(DbAdmin& a, const std::string& logfileName);
RecordsetPtr GetAvailableBackupsRs(DbAdmin& a, const std::string& archiveDirectory);
// The configured backup folder (BackupArchive), canonical; none when it cannot be reached.
std::optional<std::filesystem::path> BackupFolder(DbAdmin& a);
// The full path of a backup's report file, "" when none belongs to it (the caller has connected).
std::string GetBackupLogFile(DbAdmin& a, const std::string& backupFile);
// 20030419 -> "19-Apr-2003"; 20000 -> "02:00:00".
std::string ToDate(int32_t runDate);
std::string ToTime(int32_t runTime);

// Running a backup now (do_backup.cpp). Site administrators only.
void DoBackup(DbAdmin& a, const std::string& submittedByUserId);

// Replacing the site with one of the backup folder's backups (restore.cpp); the restore's
// messages, "" when it ended early. Site administrators only.
std::string DoRestore(DbAdmin& a, const std::string& backupPath, const std::string& backupFile,
                      const std::string& backupSet, const std::string& submittedByUserId);

}  // namespace brisquel

// The backup settings row, its option lists, and the agent job that carries the settings out.

#include <array>
#include <cctype>
#include <ctime>
#include <filesystem>

#include "core/error_protocol.h"
#include "jobstore/maintenance_command.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "maintenance/db_admin.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "DbAdmin";
constexpr std::string_view kConflict =
    "Another user has changed the backup configuration. You must cancel your changes.";

constexpr std::array<std::string_view, 7> kFrequencies{"Day", "2 Days", "3 Days", "4 Days", "5 Days", "6 Days",
                                                       "7 Days"};
constexpr std::array<std::string_view, 8> kRetentions{"1 Week",  "2 Weeks", "3 Weeks", "4 Weeks",
                                                      "5 Weeks", "6 Weeks", "7 Weeks", "8 Weeks"};

template <size_t N>
bool Known(const std::array<std::string_view, N>& list, const std::string& v) {
  for (std::string_view s : list)
    if (automation::EqualsNoCase(s, v)) return true;
  return false;
}

// "00:00" to "24:00", whole hours.
bool KnownTime(const std::string& v) {
  return v.size() == 5 && v[2] == ':' && v.substr(3) == "00" && std::isdigit(static_cast<unsigned char>(v[0])) &&
         std::isdigit(static_cast<unsigned char>(v[1])) && std::stoi(v.substr(0, 2)) <= 24;
}

struct BackupForm {
  bool on = false;
  std::string frequency, time, archive;
  bool expire = false;
  std::string retention;
};

BackupForm ReadForm(const FormFields& f) {
  return {PostedOn(f, "BackupDatabase"), PostedText(f, "BackupFrequency"), PostedText(f, "BackupTime"),
          PostedText(f, "BackupArchive"), PostedOn(f, "ExpireBackups"), PostedText(f, "BackupRetention")};
}

ReadOptions WithoutCriteria() {
  ReadOptions o;
  o.updateCriteria = -1;
  return o;
}

agent::Schedule ScheduleOf(const BackupForm& b) {
  agent::Schedule s;
  s.name = b.frequency;
  s.interval = automation::EqualsNoCase(b.frequency, "Day") ? 1 : b.frequency[0] - '0';
  s.activeStartDate = agent::DateNumber(std::time(nullptr));
  s.activeStartTime = std::stoi(b.time.substr(0, 2)) * 10000 + std::stoi(b.time.substr(3, 2)) * 100;
  return s;
}

// The job, its one step and (while backups are on) its one schedule change together: a refused
// save leaves the job as it was.
void WriteJob(DbAdmin& a, const BackupForm& b, const std::string& weeks) {
  const ConnectionParms& p = a.Parms();
  agent::Store& store = a.Management();
  const std::string server = p.serverName == "." ? "(local)" : p.serverName;
  const std::string name = p.databaseName + " Backup";
  store.Begin();
  try {
    auto job = store.FindJob(server, name);
    int64_t id = job ? job->id
                     : store.AddJob({0, name, server, "Vantrel Disk to Disk Backup", "Database Maintenance", agent::JobOwner(),
                                     true});
    store.RemoveSteps(id);
    store.AddStep(id, {1, "Backup", "TSQL", p.databaseName, BackupCommand(p, b.archive, weeks)});
    store.RemoveSchedules(id);
    if (b.on) store.AddSchedule(id, ScheduleOf(b));
    store.Commit();
  } catch (...) {
    store.Rollback();
    throw;
  }
}

void WriteRow(ado::Recordset& r, const BackupForm& b) {
  r.MoveFirst();
  r.SetValue("BackupDatabase", Variant(b.on));
  if (b.on) {
    r.SetValue("BackupFrequency", Variant(b.frequency));
    r.SetValue("BackupTime", Variant(b.time));
  }
  r.SetValue("BackupArchive", Variant(b.archive));
  r.SetValue("ExpireBackups", Variant(b.expire));
  if (b.expire) r.SetValue("BackupRetention", Variant(b.retention));
}

bool SaveBackup(DbAdmin& a, const std::string& userId, const RecordsetPtr& rsBackup,
                const std::shared_ptr<MultipartFormData>& formData, bool checkUser) {
  constexpr std::string_view kMethod = "UpdateBackup";
  Database& db = a.Site();
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& r = HeldRows(rsBackup, "SiteBackups", kMethod, kClass);
    const BackupForm b = ReadForm(PostedFields(formData, kMethod, kClass));
    if (checkUser && !UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    CheckLength(b.archive, 1024, "Folder to store backups in");
    a.ConnectToDMO();
    if (b.on && !Known(kFrequencies, b.frequency)) Refuse("Invalid backup frequency.");
    if (b.on && !KnownTime(b.time)) Refuse("Invalid backup time.");
    if (b.expire && !Known(kRetentions, b.retention)) Refuse("Invalid expiry age.");
    const std::string weeks = b.expire ? b.retention.substr(0, 1) : "";
    if (!FolderExists(a, b.archive))
      Refuse("Folder to store backups in does not exist (" + db.LastErrorMessage() + ").");

    Database::Transaction tx(db);
    WriteRow(r, b);
    if (auto failed = db.Trap([&] { db.WriteBack(r); })) {
      std::string sentence = WriteFailure(db, *failed, kConflict);
      tx.Rollback();
      a.DisconnectDMO();
      Refuse(sentence);
    }
    if (auto failed = db.Trap([&] { WriteJob(a, b, weeks); })) {
      std::string sentence = UnexpectedRuntimeErrorReport(*failed);
      tx.Rollback();
      a.DisconnectDMO();
      Refuse(sentence);
    }
    tx.Commit();
    a.DisconnectDMO();
    return true;
  });
}

std::shared_ptr<MultipartFormData> DefaultForm(bool on, const std::string& archive) {
  auto form = std::make_shared<MultipartFormData>();
  auto f = form->Fields();
  f->Add("BackupDatabase", on ? "on" : "");
  f->Add("BackupFrequency", "Day");
  f->Add("BackupTime", "02:00");
  f->Add("BackupArchive", archive);
  f->Add("ExpireBackups", on ? "on" : "");
  f->Add("BackupRetention", "2 Weeks");
  return form;
}

// A first-time save, its errors ignored as the installation step ignores them.
bool SaveDefaults(DbAdmin& a, bool on, const std::string& archive) {
  try {
    return SaveBackup(a, "Administrator", GetBackupRs(a), DefaultForm(on, archive), false);
  } catch (const automation::ComError&) {
    return false;
  }
}

}  // namespace

std::string BackupCommand(const ConnectionParms& p, const std::string& archive, const std::string& expiryWeeks) {
  agent::MaintenancePlan plan;
  plan.server = p.serverName == "." ? std::string("(local)") : p.serverName;
  // The agent reaches the site by its file: a password is never needed, and never stored here.
  if (!p.integratedSecurity) plan.login = p.loginName;
  plan.passwordGiven = !p.loginPassword.empty();
  plan.database = p.databaseName;
  plan.report = archive + "/BackupLog.txt";
  const int weeks = expiryWeeks.empty() ? 0 : expiryWeeks[0] - '0';
  plan.deleteReportsWeeks = plan.deleteBackupsWeeks = weeks;
  plan.checkDatabase = true;
  plan.backupFolder = archive;
  return agent::WriteMaintenanceCommand(plan);
}

RecordsetPtr GetBackupRs(DbAdmin& a) {
  return Procedure(kClass, "GetBackupRs", [&] { return a.Site().Read("SELECT * from SiteBackups"); });
}

RecordsetPtr GetBackupFrequencyRs(DbAdmin& a) {
  return Procedure(kClass, "GetBackupFrequencyRs", [&] {
    return a.Site().Read("SELECT * from SiteBackupFrequencyCodes order by BackupFrequency", {}, WithoutCriteria());
  });
}

RecordsetPtr GetBackupTimesRs(DbAdmin& a) {
  return Procedure(kClass, "GetBackupTimesRs", [&] {
    return a.Site().Read("SELECT * from SiteBackupTimes order by BackupTime", {}, WithoutCriteria());
  });
}

RecordsetPtr GetBackupRetentionRs(DbAdmin& a) {
  return Procedure(kClass, "GetBackupRetentionRs", [&] {
    return a.Site().Read("SELECT * from SiteBackupRetentionCodes order by BackupRetention", {}, WithoutCriteria());
  });
}

bool UpdateBackup(DbAdmin& a, const std::string& userId, RecordsetPtr rsBackup,
                  std::shared_ptr<MultipartFormData> formData) {
  return SaveBackup(a, userId, rsBackup, formData, true);
}

// The site is always on this computer: its backups go into the site's own Backups folder.
bool InitializeJobSchedule(DbAdmin& a, const std::string& vDirPath) {
  Database& db = a.Site();
  return Procedure(kClass, "InitializeJobSchedule", [&] {
    db.SetLastErrorMessage("");
    a.ConnectToDMO();
    const std::string folder = vDirPath + "/Backups";
    std::error_code ec;
    std::string message;
    if (!std::filesystem::is_directory(folder, ec)) {
      message = "Missing backup folder: " + folder;
    } else {
      if (SaveDefaults(a, true, folder) && db.LastErrorMessage().empty()) {
        a.DisconnectDMO();
        return true;
      }
      message = db.LastErrorMessage();
    }
    if (!SaveDefaults(a, false, "/") && !db.LastErrorMessage().empty()) message = db.LastErrorMessage();
    a.DisconnectDMO();
    db.SetLastErrorMessage(message);
    return false;
  });
}

}  // namespace brisquel

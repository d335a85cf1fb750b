// What the backup job has done and what can be restored: the job's outcomes paired with the
// stamped files of the backup folder, a report file's lines, and the backups of the folder with
// their headers. Recordsets are built in memory and handed over on their first row.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "ado/ado.h"
#include "automation/text.h"
#include "automation/vbdate.h"
#include "core/error_protocol.h"
#include "maintenance/db_admin.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "DbAdmin";
namespace fs = std::filesystem;

std::shared_ptr<ado::Recordset> Fabricated(const std::vector<std::pair<std::string, std::pair<int32_t, int32_t>>>& f) {
  auto rs = std::make_shared<ado::Recordset>();
  for (const auto& [name, typeSize] : f) rs->AppendField(name, typeSize.first, typeSize.second, 0);
  rs->Open(Variant(), Variant(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
  return rs;
}

void AddRow(ado::Recordset& rs, const std::vector<Variant>& values) {
  rs.AddNew();
  for (size_t i = 0; i < values.size(); ++i) rs.SetValue(i, values[i]);
  rs.Update();
}

std::shared_ptr<ado::Recordset> OnFirstRow(std::shared_ptr<ado::Recordset> rs) {
  if (!(rs->IsBOF() && rs->IsEOF())) rs->MoveFirst();
  return rs;
}

// A report file of the backup folder, named as the agent names its reports (the run's minute, or
// its minute and second); a link counts as the file it leads to. None for any other path.
std::optional<fs::path> ReportFile(const std::optional<fs::path>& archive, const fs::path& p) {
  static const std::regex kReportName("BackupLog_[0-9]{12}(?:[0-9]{2})?\\.txt");
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(p, ec);
  if (!archive || ec || canonical.parent_path() != *archive ||
      !std::regex_match(canonical.filename().string(), kReportName) || !fs::is_regular_file(canonical, ec))
    return std::nullopt;
  return canonical;
}

std::string StatusName(int32_t status) {
  switch (status) {
    case 0: return "Failed";
    case 1: return "Succeeded";
    case 3: return "Cancelled";
    case 4: return "Running";
    default: return "Unknown (" + std::to_string(status) + ")";
  }
}

// The run's start, and the stamp of its minute and of the next one.
std::time_t RunStart(const agent::HistoryRow& h) {
  std::tm tm{};
  tm.tm_year = h.runDate / 10000 - 1900;
  tm.tm_mon = h.runDate / 100 % 100 - 1;
  tm.tm_mday = h.runDate % 100;
  tm.tm_hour = h.runTime / 10000;
  tm.tm_min = h.runTime / 100 % 100;
  tm.tm_sec = h.runTime % 100;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string Stamp(std::time_t t, const char* format = "%Y%m%d%H%M") {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// The first of the two names (own minute, next minute) that exists in the folder; "" for none.
std::string Found(const fs::path& folder, const std::string& prefix, const std::string& suffix, std::time_t start) {
  std::error_code ec;
  for (std::time_t t : {start, start + 60}) {
    std::string name = prefix + Stamp(t) + suffix;
    if (fs::is_regular_file(folder / name, ec)) return name;
  }
  return "";
}

// The run's report: a run whose minute's name an earlier run of the same minute held wrote its
// report under the name with its second too; any other run's is found by minute as above.
std::string ReportFound(const fs::path& folder, std::time_t start) {
  std::error_code ec;
  std::string own = "BackupLog_" + Stamp(start, "%Y%m%d%H%M%S") + ".txt";
  if (fs::is_regular_file(folder / own, ec)) return own;
  return Found(folder, "BackupLog_", ".txt", start);
}

// The job's outcomes (step 0). The store hands its history rows over typed, so no column is
// looked up by name.
std::vector<agent::HistoryRow> Outcomes(DbAdmin& a) {
  std::vector<agent::HistoryRow> out;
  try {
    const ConnectionParms& p = a.Parms();
    agent::Store& store = a.Management();
    auto job = store.FindJob(p.serverName == "." ? "(local)" : p.serverName, p.databaseName + " Backup");
    if (!job) return out;
    for (auto& h : store.History(job->id))
      if (h.stepId == 0) out.push_back(std::move(h));
  } catch (const automation::ComError&) {
    // A history that cannot be read is no history.
  }
  return out;
}

}  // namespace

std::optional<fs::path> BackupFolder(DbAdmin& a) {
  auto folder = a.Site().One<std::string>("select BackupArchive from SiteBackups limit 1");
  std::error_code ec;
  if (!folder || folder->empty() || !fs::is_directory(*folder, ec)) return std::nullopt;
  fs::path canonical = fs::canonical(*folder, ec);
  if (ec) return std::nullopt;
  return canonical;
}

std::string ToDate(int32_t runDate) {
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::string n = std::to_string(runDate);
  if (n.size() != 8) return n;
  int month = std::stoi(n.substr(4, 2));
  if (month < 1 || month > 12) return n;
  return n.substr(6, 2) + "-" + std::string(kMonths.substr(static_cast<size_t>(month * 3 - 3), 3)) + "-" + n.substr(0, 4);
}

std::string ToTime(int32_t runTime) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06d", runTime);
  std::string t = buf;
  return t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2);
}

RecordsetPtr GetBackupHistoryRs(DbAdmin& a) {
  return Procedure(kClass, "GetBackupHistoryRs", [&] {
    a.Site().SetLastErrorMessage("");
    a.ConnectToDMO();
    auto rs = Fabricated({{"InstanceId", {ado::adInteger, 4}},
                          {"Message", {ado::adVarChar, 1024}},
                          {"RunStatus", {ado::adVarChar, 200}},
                          {"RunDateTime", {ado::adDate, 0}},
                          {"RunDuration", {ado::adVarChar, 200}},
                          {"BackupFile", {ado::adVarChar, 200}},
                          {"StatusReport", {ado::adVarChar, 200}}});
    const auto archive = BackupFolder(a);
    const std::string db = a.Parms().databaseName;
    for (const agent::HistoryRow& h : Outcomes(a)) {
      std::string backup, report = "Not available";
      if (archive) {
        const std::time_t start = RunStart(h);
        // Only a succeeded run made a backup: a failed one never takes the file of another run
        // that started in the same minute.
        if (h.runStatus == agent::kSucceeded) backup = Found(*archive, db + "_db_", ".bak", start);
        report = ReportFound(*archive, start);
        if (report.empty()) report = "Not Available";
        // A run that made its file, which has since expired, has nothing left to show; a failed run
        // stays so the page shows the failure.
        if (backup.empty() && h.runStatus == agent::kSucceeded) continue;
      }
      auto when = automation::MakeDate({h.runDate / 10000, h.runDate / 100 % 100, h.runDate % 100, h.runTime / 10000,
                                        h.runTime / 100 % 100, h.runTime % 100});
      AddRow(*rs, {Variant(static_cast<int32_t>(h.instanceId)), Variant(h.message), Variant(StatusName(h.runStatus)),
                   when ? Variant::FromDate(*when) : Variant::Null(), Variant(ToTime(h.runDuration)), Variant(backup),
                   Variant(report)});
    }
    a.DisconnectDMO();
    return OnFirstRow(rs);
  });
}

std::string GetBackupLogFile(DbAdmin& a, const std::string& backupFile) {
  const auto archive = BackupFolder(a);
  if (!archive) return "";
  const std::string db = a.Parms().databaseName;
  for (const agent::HistoryRow& h : Outcomes(a)) {
    if (h.runStatus != agent::kSucceeded) continue;  // only a succeeded run made a backup
    const std::time_t start = RunStart(h);
    std::string backup = Found(*archive, db + "_db_", ".bak", start);
    if (backup.empty() || !automation::EqualsNoCase(backup, backupFile)) continue;
    std::string report = ReportFound(*archive, start);
    return report.empty() ? "" : (*archive / report).string();
  }
  return "";
}

RecordsetPtr GetBackupLogRs(DbAdmin& a, const std::string& logfileName) {
  return Procedure(kClass, "GetBackupLogRs", [&] {
    Database& db = a.Site();
    db.SetLastErrorMessage("");
    a.ConnectToDMO();
    auto rs = Fabricated({{"LogEntry", {ado::adVarChar, 1024}}});
    const auto report = ReportFile(BackupFolder(a), logfileName);
    if (!report) {
      db.Fail("Only the report files of the backup folder can be shown.");
      return rs;
    }
    std::ifstream in(*report, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // Cut to 1,024 characters (code points), on a character boundary.
      AddRow(*rs, {Variant(std::string(automation::HeadChars(line, 1024)))});
    }
    return OnFirstRow(rs);
  });
}

RecordsetPtr GetAvailableBackupsRs(DbAdmin& a, const std::string& archiveDirectory) {
  Database& db = a.Site();
  db.SetLastErrorMessage("");
  try {
    a.ConnectToDMO();
    auto rs = Fabricated({{"BackupFile", {ado::adVarChar, 200}},
                          {"BackupName", {ado::adVarChar, 200}},
                          {"BackupStartedOn", {ado::adDate, 0}},
                          {"BackupSize", {ado::adDouble, 0}}});
    const auto archive = BackupFolder(a);
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(archiveDirectory, ec);
    if (!archive || ec || folder != *archive) {
      a.DisconnectDMO();
      db.Fail("Only the backup folder of the site's backup settings can be listed.");
      return RecordsetPtr();
    }
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(*archive, ec))
      if (e.is_regular_file(ec)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      std::vector<agent::BackupHeader> headers;
      try {
        headers = agent::ReadBackupHeaders(f);
      } catch (const automation::ComError&) {
        continue;  // not a backup
      }
      for (const auto& h : headers) {
        auto started = automation::ParseDate(h.backupStartDate.substr(0, 19));
        AddRow(*rs, {Variant(f.filename().string()), Variant(h.backupName),
                     started ? Variant::FromDate(*started) : Variant::Null(),
                     Variant(static_cast<double>(h.backupSize))});
      }
    }
    a.DisconnectDMO();
    return OnFirstRow(rs);
  } catch (const automation::ComError& e) {
    a.DisconnectDMO();
    db.Fail("An unexpected error has occurred.\r\nError number: " + std::to_string(e.number) +
            "\r\nError message: " + e.description);
    return RecordsetPtr();
  }
}

}  // namespace brisquel

// A backup run: a stamped copy of the live site made in one read transaction (writers go on in
// the WAL), written beside its final name, made durable and then renamed without replacing
// anything; then the optional check of the copy and the removal of this site's old files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <thread>

#include "jobstore/jobstore.h"
#include "automation/automation.h"
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

// The run's report, named by its minute; a run whose minute's name an earlier run of the same
// minute holds takes the name with its second too, so each run keeps a report of its own.
class Report {
 public:
  Report(const std::filesystem::path& folder, std::time_t start) {
    std::filesystem::path file;
    for (const char* format : {"%Y%m%d%H%M", "%Y%m%d%H%M%S"}) {
      file = folder / ("BackupLog_" + Format(start, format) + ".txt");
      fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
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
  const std::filesystem::path reportFolder = plan.report.parent_path();
  try {
    Report report(reportFolder, start);
    report.Line("Backup of database " + plan.database + " (" + plan.server + ") started " +
                Format(start, "%Y-%m-%d %H:%M:%S"));
    try {
      std::error_code ec;
      if (std::filesystem::exists(std::filesystem::symlink_status(final, ec)))
        Stop("The backup file " + final.string() + " already exists; nothing was overwritten.");
      // Copies an earlier run left unfinished go first.
      RemoveOld(plan.backupFolder, std::regex("$^"), "", "." + plan.database + "_db_", report);
      agent::WriteBackupFile(plan.server, final, plan.database, start);
      report.Line("Backed up to " + final.string());
      if (plan.checkDatabase) {
        std::string check = agent::IntegrityCheck(final);
        if (check != "ok") Stop("The integrity check of " + final.string() + " failed: " + check);
        report.Line("Integrity check of the backup: ok");
      }
      auto cutoff = [&](int weeks) { return Format(start - static_cast<std::time_t>(weeks) * 7 * 86400, "%Y%m%d%H%M"); };
      if (plan.deleteBackupsWeeks > 0)
        RemoveOld(plan.backupFolder, std::regex(Escape(plan.database) + "_db_([0-9]{12})\\.bak"),
                  cutoff(plan.deleteBackupsWeeks), "", report);
      if (plan.deleteReportsWeeks > 0)
        RemoveOld(reportFolder, std::regex("BackupLog_([0-9]{12})(?:[0-9]{2})?\\.txt"), cutoff(plan.deleteReportsWeeks),
                  "", report);
    } catch (const RunError& e) {
      report.Line(e.text);
      throw;
    } catch (const automation::ComError& e) {
      report.Line(e.description);
      Stop(e.description);
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

// A site database named Site in a folder of the test's own, with the job store, the registry, the
// event log and the unit folder beside it; the registry's INSTALLDIR names the folder of the real
// vantrel-agent. An agent the library starts is stopped at the end.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jobstore/jobstore.h"
#include "ado/ado.h"
#include "core/multipart.h"
#include "maintenance/db_admin.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace brisquel::backuptest {

namespace fs = std::filesystem;
using Fields = std::vector<std::pair<std::string, std::string>>;
using namespace std::chrono_literals;

// The minute of `t` in local time as the agent names its files: "202612090317".
inline std::string Stamp(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M", &tm);
  return buf;
}

class BackupSite : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(units);
    fs::create_directories(archive);
    testsupport::WriteFile(dir / "registry", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\nINSTALLDIR=" +
                                                 fs::path(VANTREL_AGENT_PATH).parent_path().string() + "\n");
    admin->SetConnectionString(sitedb::ConnectionString(file));
    ASSERT_EQ(admin->GetLastErrorMessage(), "");
  }
  void TearDown() override { StopAgent(); }

  // Stops an agent that holds the store's lock (the library started it as our child). The agent
  // records its pid just after it takes the lock.
  void StopAgent() {
    const fs::path storeFile = dir / "agent.db";
    if (agent::Status(storeFile) != agent::kRunning) return;
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 500 && rows.empty(); ++i) {
      rows = Store()->Rows("select Pid from AgentState");
      if (rows.empty()) std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(rows.empty());
    pid_t pid = std::stoi(rows[0][0]);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    Store()->Exec("delete from AgentState");
  }

  static std::shared_ptr<MultipartFormData> Form(const Fields& fields) {
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
    return form;
  }
  // The settings most tests save: on, "Day", "02:00", the archive folder, "2 Weeks".
  Fields Settings(const Fields& changes = {}) const {
    Fields f = {{"BackupDatabase", "on"},        {"BackupFrequency", "Day"},  {"BackupTime", "02:00"},
                {"BackupArchive", archive.string()}, {"ExpireBackups", "on"}, {"BackupRetention", "2 Weeks"}};
    for (const auto& [k, v] : changes)
      for (auto& field : f)
        if (field.first == k) field.second = v;
    return f;
  }
  bool Save(const Fields& fields, const std::string& user = "admin") {
    return UpdateBackup(*admin, user, GetBackupRs(*admin), Form(fields));
  }
  std::string Row() {
    return raw.Rows("select BackupDatabase, BackupFrequency, BackupTime, BackupArchive, ExpireBackups, "
                    "BackupRetention from SiteBackups")[0];
  }
  std::unique_ptr<agent::Store> Store() { return std::make_unique<agent::Store>(dir / "agent.db"); }
  std::optional<agent::Job> Job() { return Store()->FindJob(file.string(), "Site Backup"); }

  testsupport::TempDir dir;
  fs::path file = [this] {
    fs::copy_file(sitedb::FreshSite(true), dir / "Site.db");
    return fs::weakly_canonical(dir / "Site.db");
  }();
  fs::path units = dir / "units";
  fs::path archive = dir / "backups";
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", (dir / "agent.db").string()};
  testsupport::ScopedEnv unitEnv{"VANTREL_UNIT_DIR", units.string()};
  testsupport::ScopedEnv logEnv{"VANTREL_EVENTLOG", (dir / "events.log").string()};
  std::shared_ptr<DbAdmin> admin = std::make_shared<DbAdmin>();
  sitedb::Db raw{file};
};

}  // namespace brisquel::backuptest

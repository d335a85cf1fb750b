// The system pages' tests: a vantrel-site on the demo site with a registry, a job store and a unit
// folder of the test's own (the registry's INSTALLDIR names the real vantrel-agent, which the site
// starts as it would on a server), and one Chromium page. An agent the site started is stopped at
// the end.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "jobstore/jobstore.h"
#include "support/browser.h"
#include "support/site_db.h"
#include "support/site_server.h"
#include "support/temp_dir.h"

namespace systemtest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Json;

class SystemSite : public ::testing::Test {
 protected:
  void TearDown() override { StopAgent(); }

  // The agent records its pid once it holds the store's lock; it is not our child, so its end is
  // seen through the lock.
  void StopAgent() {
    if (agent::Status(store) != agent::kRunning) return;
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 500 && rows.empty(); ++i) {
      rows = agent::Store(store).Rows("select Pid from AgentState");
      if (rows.empty()) std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(rows.empty());
    ::kill(std::stoi(rows[0][0]), SIGTERM);
    for (int i = 0; i < 1000 && agent::Status(store) == agent::kRunning; ++i) std::this_thread::sleep_for(10ms);
  }

  std::string Eval(const std::string& expression) { return page->Evaluate(expression).get<std::string>(); }
  std::string Text(const std::string& id) {
    return Eval("(document.getElementById(" + Json(id).dump() + ")?.innerText ?? '')");
  }
  void SetValue(const std::string& name, const std::string& value) {
    page->Evaluate("document.getElementsByName(" + Json(name).dump() + ")[0].value = " + Json(value).dump());
  }
  void SetChecked(const std::string& name, bool on) {
    page->Evaluate("document.getElementsByName(" + Json(name).dump() + ")[0].checked = " + (on ? "true" : "false"));
  }
  std::string Sql(const std::string& query) { return sitedb::Db(site.DatabaseFile()).Text(query); }

  testsupport::TempDir dir;
  fs::path store = dir / "agent.db";
  fs::path archive = dir / "backups";
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  testsupport::ScopedEnv storeEnv{"VANTREL_AGENT_STORE", store.string()};
  testsupport::ScopedEnv unitEnv{"VANTREL_UNIT_DIR", (dir / "units").string()};
  bool prepared = [this] {
    fs::create_directories(dir / "units");
    fs::create_directories(archive);
    testsupport::WriteFile(dir / "registry", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]\nINSTALLDIR=" +
                                                 fs::path(VANTREL_AGENT_PATH).parent_path().string() + "\n");
    return true;
  }();
  testsupport::SiteServer site;
  std::unique_ptr<testsupport::Page> page = testsupport::Browser::Shared().NewPage();
};

}  // namespace systemtest

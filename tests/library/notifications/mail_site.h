// A demo site database named Issues in a folder of the test's own (the web application's folder),
// with the registry file in the same folder. Users: admin (site administrator), alice
// (administrator of project 1, Demo), bob (member of Demo).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/multipart.h"
#include "notifications/email_config.h"
#include "notifications/notifications.h"
#include "registry/registry.h"
#include "support/site_db.h"
#include "support/temp_dir.h"

namespace brisquel::mailtest {

namespace fs = std::filesystem;
using Fields = std::vector<std::pair<std::string, std::string>>;

class MailSite : public ::testing::Test {
 protected:
  static fs::path CopySite(const fs::path& to) {
    fs::copy_file(sitedb::FreshSite(true), to);
    return to;
  }

  // A posted form; a name given more than once is posted more than once.
  static std::shared_ptr<MultipartFormData> Form(const Fields& fields) {
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
    return form;
  }

  static std::optional<std::string> Registered(const std::string& name) {
    return registry::ReadValue(registry::kDatabasesKey, name);
  }
  static std::optional<std::string> Schedule() { return registry::ReadValue(registry::kVantrelKey, "EMailSchedule"); }
  bool RegistryWritten() const { return fs::exists(dir / "registry"); }

  testsupport::TempDir dir;
  testsupport::ScopedEnv registryEnv{"VANTREL_REGISTRY", (dir / "registry").string()};
  fs::path file = CopySite(dir / "Issues.db");
  std::shared_ptr<Database> db = sitedb::Open(file);
  sitedb::Db raw{file};
};

}  // namespace brisquel::mailtest

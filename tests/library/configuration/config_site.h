// A demo site for the configuration writers: admin (site administrator), alice (administrator of
// project 1, Demo), bob (member of Demo); six issues in the site workflow.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "configuration/code_table_writers.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/com_error.h"
#include "support/site_db.h"

namespace brisquel::configtest {

using Fields = std::vector<std::pair<std::string, std::string>>;

class ConfigSite : public ::testing::Test {
 protected:
  // A posted form; a name given more than once is posted more than once.
  static std::shared_ptr<MultipartFormData> Form(const Fields& fields) {
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
    return form;
  }
  // `base` with the values of `changes` in place of (or beside) its own.
  static Fields With(Fields base, const std::map<std::string, std::string>& changes) {
    for (const auto& [k, v] : changes) {
      bool found = false;
      for (auto& [name, value] : base)
        if (name == k) value = v, found = true;
      if (!found) base.emplace_back(k, v);
    }
    return base;
  }
  // As a page hands it over by name.
  static automation::Variant Posted(const Fields& fields) {
    return automation::Variant(std::static_pointer_cast<automation::Object>(Form(fields)));
  }
  // A Database made by name and connected to the site, as a page makes one.
  std::shared_ptr<automation::Object> ByName() {
    auto object = automation::CreateObject("Brisquel.Database");
    object->Put("ConnectionString", automation::Variant(sitedb::ConnectionString(file)));
    return object;
  }
  std::string Message() { return db->LastErrorMessage(); }
  long long Count(const std::string& sql) { return raw.Int("select count(*) " + sql); }

  std::filesystem::path file = sitedb::FreshSite(true);
  std::shared_ptr<Database> db = sitedb::Open(file);
  sitedb::Db raw{file};
};

}  // namespace brisquel::configtest

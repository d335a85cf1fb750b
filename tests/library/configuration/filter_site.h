// A demo site for the tests of the saved filters: posting a filter's form as admin and listing
// the issues a saved filter selects.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "configuration/filter_writers.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "issues/issue_list.h"
#include "support/site_db.h"

namespace brisquel::filtertest {

class FilterSite : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    raw = std::make_unique<sitedb::Db>(file);
    db = sitedb::Open(file);
  }
  void TearDown() override { automation::SetClockForTesting(std::nullopt); }

  static std::shared_ptr<MultipartFormData> Form(const std::vector<std::pair<std::string, std::string>>& fields) {
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [k, v] : fields) form->Fields()->Add(k, v);
    return form;
  }
  // A wizard filter's form: its name and its FilterExpression text (and what the browser claims
  // its SQL is).
  static std::shared_ptr<MultipartFormData> Wizard(const std::string& name, const std::string& expression,
                                                  const std::string& fq = "") {
    return Form({{"FilterName", name}, {"AdvancedFilter", ""}, {"FilterExpression", expression},
                 {"fqFilterExpression", fq}});
  }
  static std::shared_ptr<MultipartFormData> Advanced(const std::string& name, const std::string& sql,
                                                    const std::string& flag = "on") {
    return Form({{"FilterName", name}, {"AdvancedFilter", flag}, {"fqFilterExpression", sql}});
  }

  // The ids of the issues the saved filter `name` of admin lists, over every project.
  std::set<int> Listed(const std::string& name) {
    std::set<int> ids;
    auto rs = GetFilteredIssuesRs(*db, -1, "u:" + name, "admin", "Issues.IssueId", 0);
    if (!rs) {
      ADD_FAILURE() << name << ": " << db->LastErrorMessage();
      return ids;
    }
    if (rs->RecordCount() > 0) rs->MoveFirst();
    for (; !rs->IsEOF(); rs->MoveNext()) ids.insert(rs->Value("IssueId").ToLong());
    return ids;
  }
  // The stored row of admin's filter: advanced flag, FilterExpression and fqFilterExpression.
  std::string Stored(const std::string& name) {
    return raw->Text("select AdvancedFilter || '|' || FilterExpression || '|' || fqFilterExpression from "
                     "SummaryFilters where UserId = 'admin' and FilterName = '" + name + "'");
  }
  long long FilterCount() { return raw->Int("select count(*) from SummaryFilters where UserId = 'admin'"); }

  std::filesystem::path file;
  std::unique_ptr<sitedb::Db> raw;
  std::shared_ptr<Database> db;
};

}  // namespace brisquel::filtertest

// A demo site prepared for the workflow questions and the issue writers. Beside the demo rows:
//   project 2 "Other": private, member bob, no leads
//   erin:  internal, no group, member of Demo, lead of the group Support in Demo (Support leads
//          may create issues)
//   frank: internal, no group, member of Demo: may not create issues
//   olga:  internal, no group, member of Demo with the right to override the workflow
//   admin: site administrator, member of Demo
// E-mail is on, with the seeded rule that tells an issue's new assignee.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/database.h"
#include "core/multipart.h"
#include "eventlog/eventlog.h"
#include "support/site_db.h"

namespace brisquel::writertest {

inline std::vector<std::string> Column(const std::shared_ptr<ado::Recordset>& rs, std::string_view name) {
  std::vector<std::string> values;
  if (!rs) {
    ADD_FAILURE() << "no recordset";
    return values;
  }
  if (rs->IsEOF() && rs->IsBOF()) return values;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    automation::Variant v = rs->Value(name);
    values.push_back(v.IsNull() ? "<null>" : v.ToString());
  }
  return values;
}

inline std::shared_ptr<MultipartFormData> Form(std::initializer_list<std::pair<std::string, std::string>> fields) {
  auto form = std::make_shared<MultipartFormData>();
  for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
  return form;
}

using FieldList = std::vector<std::pair<std::string, std::string>>;

// `base` with the values of `changes` in place of those of the same name (or added); a change
// whose value is "<absent>" removes the field.
inline std::shared_ptr<MultipartFormData> Form(FieldList base, const FieldList& changes) {
  for (const auto& [name, value] : changes) {
    auto it = std::find_if(base.begin(), base.end(), [&](const auto& f) { return f.first == name; });
    if (it != base.end()) {
      if (value == "<absent>")
        base.erase(it);
      else
        it->second = value;
    } else if (value != "<absent>") {
      base.emplace_back(name, value);
    }
  }
  auto form = std::make_shared<MultipartFormData>();
  for (const auto& [name, value] : base) form->Fields()->Add(name, value);
  return form;
}

class WorkflowSite : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    sql = std::make_unique<sitedb::Db>(file);
    sql->Exec(
        "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES (2, 'Other', 0);"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (2, '', 1);"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, '');"
        "INSERT INTO Users (UserId, UserName, UserEMail) VALUES ('erin', 'Erin Ellis', 'erin@example.com'),"
        "  ('frank', 'Frank Fox', 'frank@example.com'), ('olga', 'Olga Olsen', 'olga@example.com');"
        "INSERT INTO Groups (GroupCode) VALUES ('Support');"
        "INSERT OR IGNORE INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator, OverrideWorkflow) VALUES"
        "  (1, 'admin', 0, 0), (1, 'erin', 0, 0), (1, 'frank', 0, 0), (1, 'olga', 0, 1), (2, 'bob', 0, 0);"
        "INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'erin', 'Support');"
        "INSERT INTO WorkflowStateTeamLeads (StateId, GroupCode) VALUES (1, 'Support');"
        "UPDATE EMailConfiguration SET EMailEnabled = 1;");
    db = sitedb::Open(file);
    events = eventlog::CaptureInMemory();
  }
  void TearDown() override { eventlog::SetSink(nullptr); }

  long long Count(const std::string& table, const std::string& where = "1") {
    return sql->Int("select count(*) from " + table + " where " + where);
  }

  std::filesystem::path file;
  std::unique_ptr<sitedb::Db> sql;
  std::shared_ptr<Database> db;
  std::shared_ptr<eventlog::MemorySink> events;
};

}  // namespace brisquel::writertest

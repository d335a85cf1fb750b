// A fresh site (admin "admin", password "Secret1", a member of every group) with project 1 'Web',
// its administrator paul, the ordinary user olga (in Developers) and the public user pia. Forms
// are posted as a page posts them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "directory/directory.h"
#include "support/site_db.h"

namespace brisquel::directorytest {

using Fields = std::vector<std::pair<std::string, std::string>>;
using Rows = std::vector<std::string>;

class UsersSite : public ::testing::Test {
 protected:
  UsersSite() {
    raw.Exec(
        "INSERT INTO Projects (ProjectId, ProjectCode) VALUES (1, 'Web');"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (1, '', 1);"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, '');"
        "INSERT INTO Users (UserId, UserName) VALUES ('paul', 'Paul'), ('olga', 'Olga');"
        "INSERT INTO Users (UserId, UserName, PublicUser) VALUES ('pia', 'Pia', 1);"
        "INSERT INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator) VALUES (1, 'paul', 1), (1, 'olga', 0);"
        "INSERT INTO UserGroups (UserId, GroupCode) VALUES ('olga', 'Developers');");
  }

  // A posted form; a name given more than once is posted more than once.
  static std::shared_ptr<MultipartFormData> Form(const Fields& fields) {
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [name, value] : fields) form->Fields()->Add(name, value);
    return form;
  }
  // `base` with the values of `changes` replacing (or adding to) it.
  // A name `base` does not hold is added as often as `changes` gives it.
  static Fields With(const Fields& base, const Fields& changes) {
    Fields out = base;
    for (const auto& [name, value] : changes) {
      bool replaced = false;
      for (size_t i = 0; i < base.size(); ++i)
        if (base[i].first == name) out[i].second = value, replaced = true;
      if (!replaced) out.emplace_back(name, value);
    }
    return out;
  }

  // Every row of the user in the tables a user owns, table by table.
  Rows Owned(const std::string& userId) {
    Rows out;
    for (const char* table : {"Users", "UserGroups", "ProjectUsers", "ProjectGroupLeads", "SummaryLayouts",
                              "SummaryLayoutFields", "SummaryFilters"})
      out.push_back(std::string(table) + "=" +
                    std::to_string(raw.Int(std::string("select count(*) from ") + table + " where UserId = '" +
                                           userId + "'")));
    return out;
  }
  std::string Message() const { return db->LastErrorMessage(); }

  std::filesystem::path file = sitedb::FreshSite(false);
  sitedb::Db raw{file};
  std::shared_ptr<Database> db = sitedb::Open(file);
};

}  // namespace brisquel::directorytest

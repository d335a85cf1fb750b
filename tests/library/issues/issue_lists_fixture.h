// A demo site with two more projects, for the tests of the issue lists, reports, charts and
// release notes:
//   project 1 "Demo"   public,  members admin alice bob carol; issues 1-6 of the demo
//   project 2 "Secret" private, member bob;                    issues 101 (open, bob), 102 (closed, bob)
//   project 3 "Forum"  public,  no members;                    issues 201 (open, dave), 202 (closed)
// Users: admin (site administrator), alice, bob, carol (internal), dave (public), erin (internal,
// member of nothing).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/vbdate.h"
#include "core/database.h"
#include "support/site_db.h"

namespace brisquel::testing {

inline automation::Date Day(int y, int m, int d) { return *automation::MakeDate({y, m, d}); }

class IssueListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = sitedb::FreshSite(true);
    sql = std::make_unique<sitedb::Db>(file);
    sql->Exec(
        "INSERT INTO Projects (ProjectId, ProjectCode, PublicAccessible) VALUES (2, 'Secret', 0), (3, 'Forum', 1);"
        "INSERT INTO Users (UserId, UserName) VALUES ('erin', 'Erin Ellis');"
        "INSERT OR IGNORE INTO ProjectUsers (ProjectId, UserId) VALUES (1, 'admin'), (2, 'bob');"
        "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES"
        "  (2, '', 1), (2, '1.0', 9), (2, '1.1', 8), (2, '2.0', 7), (3, '', 1);"
        "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, ''), (3, '');");
    AddIssue(101, 2, "bob", "New", "Open", "Budget figures are visible to everyone");
    AddIssue(102, 2, "bob", "Fixed", "Closed", "Secret report layout");
    AddIssue(201, 3, "dave", "New", "Open", "Forum posts lose their line breaks");
    AddIssue(202, 3, "", "Fixed", "Closed", "Forum search is slow");
    db = sitedb::Open(file);
  }
  void TearDown() override { automation::SetClockForTesting(std::nullopt); }

  void AddIssue(int id, int project, const std::string& assignee, const std::string& resolution,
                const std::string& status, const std::string& summary, const std::string& extra = "") {
    sql->Exec("INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, Valid, Summary" +
              std::string(extra.empty() ? "" : ", ") + ColumnsOf(extra) + ") VALUES (" + std::to_string(id) + ", " +
              std::to_string(project) + ", '" + assignee + "', '" + resolution + "', '" + status + "', 1, '" +
              Quoted(summary) + "'" + (extra.empty() ? "" : ", ") + ValuesOf(extra) + ")");
  }

  // The issue ids of a list, in its order; an empty list for Nothing (with a failure).
  static std::vector<int> Ids(const std::shared_ptr<ado::Recordset>& rs) {
    std::vector<int> ids;
    if (!rs) {
      ADD_FAILURE() << "the list is Nothing";
      return ids;
    }
    if (rs->State() != ado::adStateOpen) return ids;
    if (rs->RecordCount() > 0) rs->MoveFirst();
    for (; !rs->IsEOF(); rs->MoveNext()) ids.push_back(rs->Value("IssueId").ToLong());
    return ids;
  }
  static std::set<int> IdSet(const std::shared_ptr<ado::Recordset>& rs) {
    auto v = Ids(rs);
    return {v.begin(), v.end()};
  }

  std::filesystem::path file;
  std::unique_ptr<sitedb::Db> sql;
  std::shared_ptr<Database> db;

 private:
  static std::string Quoted(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out;
  }
  // `extra` is "Column=value;Column=value" with SQL literals as values.
  static std::vector<std::pair<std::string, std::string>> Pairs(const std::string& extra) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t from = 0;
    while (from < extra.size()) {
      size_t end = extra.find(';', from);
      std::string item = extra.substr(from, end == std::string::npos ? std::string::npos : end - from);
      size_t eq = item.find('=');
      out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
      if (end == std::string::npos) break;
      from = end + 1;
    }
    return out;
  }
  static std::string ColumnsOf(const std::string& extra) {
    std::string s;
    for (auto& [c, v] : Pairs(extra)) s += (s.empty() ? "" : ", ") + c;
    return s;
  }
  static std::string ValuesOf(const std::string& extra) {
    std::string s;
    for (auto& [c, v] : Pairs(extra)) s += (s.empty() ? "" : ", ") + v;
    return s;
  }
};

}  // namespace brisquel::testing

#include "upgrade_fixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <regex>

#include "ado/row_version.h"
#include "schema/constraints.h"
#include "schema/sql_files.h"
#include "support/site_db.h"

namespace upgradefixture {

namespace {

// The text with `from` replaced by `to`; the test fails when `from` is not there.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "fixture edit not found: " << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string File(const char* name) { return std::string(brisquel::schema::SqlFileText(name)); }

std::string IssuesAndUsers() {
  std::string s = File("020_issues_users.sql");
  s = Replace(s, "  EMailEnabled BIT NOT NULL CONSTRAINT DF_Projects_EMailEnabled DEFAULT 1,\n", "");
  s = Replace(s, "  EMailEnabled BIT NOT NULL CONSTRAINT DF_Users_EMailEnabled DEFAULT 1,\n", "");
  s = Replace(s, "  OldResolutionCode VARCHAR(50) NOT NULL DEFAULT ''", "  OldResolutionCode VARCHAR(50) NULL DEFAULT ''");
  s = Replace(s, "  NewResolutionCode VARCHAR(50) NOT NULL COLLATE", "  NewResolutionCode VARCHAR(50) NULL COLLATE");
  s = Replace(s,
              "  ('DF_Projects_EMailEnabled', 'Projects', 'DEFAULT', 'EMailEnabled', '1'),\n"
              "  ('DF_Users_EMailEnabled', 'Users', 'DEFAULT', 'EMailEnabled', '1'),\n",
              "");
  s = Replace(s,
              "  ('FK_IssueHistory_NewResolutions', 'IssueHistory', 'FOREIGN KEY', 'NewResolutionCode',\n"
              "   'Resolutions', 'ResolutionCode', 'TRIGGER'),\n"
              "  ('FK_Issues_Resolutions', 'Issues', 'FOREIGN KEY', 'ResolutionCode', 'Resolutions',\n"
              "   'ResolutionCode', 'TRIGGER'),\n",
              "");
  return s;
}

std::string Site() {
  return Replace(File("050_site.sql"), ",\n  WebSiteURL VARCHAR(100) NOT NULL DEFAULT '' COLLATE NOCASE\n", "\n");
}

std::string FirstRows() {
  return Replace(File("110_first_rows.sql"),
                 "INSERT INTO VantrelSite (DatabaseVersion, LastUpdated, WebSiteURL)\n"
                 "  VALUES (1.11, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), '');\n",
                 "");
}

// The tables the 1.10 step drops or changes, as an earlier release had them.
constexpr const char* kLegacy = R"(
CREATE TABLE IssueActivity (ActivityId INTEGER PRIMARY KEY, IssueId INTEGER NOT NULL,
  ActivityText VARCHAR(200) NOT NULL DEFAULT '' COLLATE NOCASE);
CREATE TABLE UseCases (UseCase VARCHAR(50) NOT NULL COLLATE NOCASE PRIMARY KEY,
  SortOrder INTEGER NOT NULL DEFAULT 0);
CREATE TABLE ProjectUseCases (ProjectId INTEGER NOT NULL, UseCase VARCHAR(50) NOT NULL COLLATE NOCASE,
  SortOrder INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (ProjectId, UseCase));
INSERT INTO UseCases VALUES ('', 0), ('Login', 1), ('Report', 2);
INSERT INTO Projects (ProjectCode, ProjectDescription) VALUES ('Legacy', 'Made by the first release');
INSERT INTO Users (UserId, UserName, UserEMail) VALUES ('olduser', 'Old User', 'old@example.com');
INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) SELECT ProjectId, '', 1 FROM Projects;
INSERT INTO ProjectModules (ProjectId, ModuleCode) SELECT ProjectId, '' FROM Projects;
INSERT INTO ProjectUseCases SELECT ProjectId, 'Login', 1 FROM Projects WHERE ProjectCode = 'Legacy';
INSERT INTO ProjectUseCases SELECT ProjectId, 'Report', 2 FROM Projects WHERE ProjectCode = 'Legacy';
)";

}  // namespace

// What the lists and statistics of the previous release did without: the kept counts, the indexes
// by status, by day and by project and assignee, the priorities' order index; the issues' project
// index on its one column.
const char* const kWithoutListStructures = R"(
DROP TRIGGER IssueCounts_Insert;
DROP TRIGGER IssueCounts_Delete;
DROP TRIGGER IssueCounts_Update;
DROP TABLE IssueCounts;
DROP INDEX IX_Issues_StatusCode;
DROP INDEX IX_Issues_DateOpened;
DROP INDEX IX_Issues_DateClosed;
DROP INDEX IX_Priorities_SortOrder;
DROP INDEX IX_Issues_ProjectId;
DROP INDEX IX_Issues_ProjectId_AssignedToUser;
CREATE INDEX IX_Issues_ProjectId ON Issues (ProjectId);
)";

namespace {

void InstallRowVersions(sitedb::Db& db) {
  for (const std::string& table : db.Rows("SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name"))
    if (ado::HasRowVersion(db.handle(), table)) ado::InstallRowVersion(db.handle(), table);
  brisquel::schema::InstallTriggerForeignKeys(db.handle());
}

void AddIssues(sitedb::Db& db, int issues, int historyPerIssue) {
  db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(issues) +
          ") INSERT INTO Issues (ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, Summary) "
          "SELECT (SELECT ProjectId FROM Projects WHERE ProjectCode = 'Legacy'), 'olduser', "
          "CASE i % 2 WHEN 0 THEN 'Fixed' ELSE 'New' END, 'Open', 'olduser', 'Issue ' || i FROM n");
  db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
          std::to_string(historyPerIssue) +
          ") INSERT INTO IssueHistory (IssueId, ProjectId, UserId, OldResolutionCode, OldStatusCode, "
          "NewResolutionCode, NewStatusCode) SELECT IssueId, ProjectId, 'olduser', '', '', ResolutionCode, 'Open' "
          "FROM Issues, n ORDER BY IssueId, i");
  db.Exec("INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText) "
          "SELECT IssueId, 'Comments', 'olduser', 'First note on ' || Summary FROM Issues");
  db.Exec("INSERT INTO IssueActivity (IssueId, ActivityText) SELECT IssueId, 'Opened' FROM Issues");
}

std::string Squeezed(std::string sql) { return std::regex_replace(sql, std::regex(R"(\s+)"), " "); }

bool Skipped(const std::vector<std::string>& skip, const std::string& table) {
  return std::find(skip.begin(), skip.end(), table) != skip.end();
}

void Columns(sitedb::Db& db, const std::string& table, std::vector<std::string>& out) {
  std::vector<std::string> lines;
  for (const std::string& row :
       db.Rows("SELECT name, type, \"notnull\", ifnull(dflt_value, '<none>'), pk FROM pragma_table_info('" + table +
               "')")) {
    std::string name = row.substr(0, row.find('|'));
    const char* collation = nullptr;
    sqlite3_table_column_metadata(db.handle(), nullptr, table.c_str(), name.c_str(), nullptr, &collation, nullptr,
                                  nullptr, nullptr);
    lines.push_back("column " + table + "." + row + "|" + (collation ? collation : ""));
  }
  std::sort(lines.begin(), lines.end());
  out.insert(out.end(), lines.begin(), lines.end());
  for (const std::string& fk : db.Rows("SELECT \"table\", \"from\", \"to\" FROM pragma_foreign_key_list('" + table +
                                       "') ORDER BY id, seq"))
    out.push_back("foreign key " + table + "|" + fk);
}

void EMailRows(sitedb::Db& db, const std::string& table, std::vector<std::string>& out) {
  std::string list;
  for (const std::string& c : db.Rows("SELECT name FROM pragma_table_info('" + table + "') WHERE name <> 'LastUpdated'"))
    list += (list.empty() ? "" : ", ") + ("quote(" + c + ")");
  std::vector<std::string> rows = db.Rows("SELECT " + list + " FROM " + table);
  std::sort(rows.begin(), rows.end());
  for (const std::string& row : rows) out.push_back("row " + table + "|" + row);
}

}  // namespace

void Create(const std::filesystem::path& file, int issues, int historyPerIssue) {
  sitedb::Db db(file);
  db.Exec("BEGIN IMMEDIATE");
  db.Exec(File("010_catalogue.sql"));
  db.Exec(IssuesAndUsers());
  db.Exec(File("030_form_workflow.sql"));
  db.Exec(Site());
  db.Exec(kWithoutListStructures);
  db.Exec(kLegacy);
  InstallRowVersions(db);
  db.Exec(FirstRows());
  AddIssues(db, issues, historyPerIssue);
  db.Exec("COMMIT");
}

std::vector<std::string> Normalised(const std::filesystem::path& file, const std::vector<std::string>& skip) {
  sitedb::Db db(file);
  std::vector<std::string> out;
  for (const std::string& table : db.Rows("SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE "
                                          "'sqlite!_%' ESCAPE '!' ORDER BY name")) {
    if (Skipped(skip, table)) continue;
    out.push_back("table " + table);
    Columns(db, table, out);
    if (table.rfind("EMail", 0) == 0) EMailRows(db, table, out);
  }
  for (const std::string& row : db.Rows("SELECT tbl_name, type, name, ifnull(sql, '') FROM sqlite_schema WHERE type "
                                        "IN ('index', 'trigger') ORDER BY type, name")) {
    std::string table = row.substr(0, row.find('|'));
    if (!Skipped(skip, table)) out.push_back(Squeezed(row));
  }
  for (const std::string& row : db.Rows("SELECT * FROM VantrelConstraints ORDER BY ConstraintName"))
    out.push_back("constraint " + row);
  return out;
}

}  // namespace upgradefixture

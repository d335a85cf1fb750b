#include "schema/upgrade.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ado/row_version.h"
#include "automation/dispatch.h"
#include "automation/text.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/sql.h"
#include "schema/ddl.h"
#include "schema/sql_files.h"
#include "schema/text_search.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "DbUpgrader";
constexpr const char* kTrace = "Brisquel.dll::DbUpgrader.";

// The e-mail tables in the order the 1.10 step creates them; every one with a LastUpdated column
// gets its row version.
constexpr const char* kEMailTables[] = {
    "EMailConfiguration",       "EMailContentTransferCharsets", "EMailContentTransferEncodings",
    "EMailDeliveryFrequency",   "EMailNotificationEventTypes",  "EMailRecipientTypes",
    "EMailTemplateTypes",       "EMailTestResults",             "EMailTemplates",
    "EMailTemplateTypeHeaders", "EMailTemplateTypeParts",       "EMailNotificationRules",
    "EMailTemplateParts",       "EMailTemplateTypePartHeaders", "EMailNotifications"};

std::string Message(const std::exception& e) {
  if (auto* com = dynamic_cast<const automation::ComError*>(&e)) return com->description;
  return e.what();
}

// The site table's declaration as a new site has it (from the schema file, so the two agree).
std::string SiteTableSql() {
  std::string_view file = schema::SqlFileText("050_site.sql");
  size_t from = file.find("CREATE TABLE VantrelSite (");
  size_t to = file.find(");", from);
  return std::string(file.substr(from, to + 2 - from));
}

// Two decimals, as the trace shows a version (1.10).
std::string TwoDecimals(double version) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", version);
  return text;
}

// The decimal text the site row holds (1.01, 1.1, 1.11).
std::string DecimalText(double version) {
  std::string text = TwoDecimals(version);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

// The statement of a schema file that starts at `from`: a trigger's ends with its END, any other
// with its first semicolon.
std::string StatementAt(std::string_view file, size_t from) {
  const bool trigger = file.substr(from).starts_with("CREATE TRIGGER ");
  size_t end = trigger ? file.find("\nEND;", from) + 5 : file.find(';', from) + 1;
  return std::string(file.substr(from, end - from));
}

// The statement with IF NOT EXISTS after its first `keyword` ("INDEX ", "TABLE ", "TRIGGER ").
std::string IfNotExists(std::string statement, std::string_view keyword) {
  return statement.insert(statement.find(keyword) + keyword.size(), "IF NOT EXISTS ");
}

// The name a CREATE statement declares: the word after its `keyword`.
std::string DeclaredName(const std::string& statement, std::string_view keyword) {
  size_t from = statement.find(keyword) + keyword.size();
  return statement.substr(from, statement.find_first_of(" (", from) - from);
}

// "1 index", "5 indexes".
std::string Counted(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Declared {
  std::string name;
  std::string declaration;  // the statement as the file words it
  std::string sql;          // the same with IF NOT EXISTS
};

// Every index the table definitions of a new site declare, as the files word it, except one on a
// column the site's table no longer has (a code table switched to natural sort has no SortOrder).
std::vector<Declared> SchemaIndexes(ado::Connection& db) {
  std::vector<Declared> out;
  for (const schema::DeclaredIndex& index : schema::DeclaredIndexes()) {
    std::vector<std::string> present;
    db.Each("select name from pragma_table_info(?)", {ado::Param::Text(index.table, 1000)},
            [&](sqlite3_stmt* st) { present.push_back(sql::Row(st).Text(0)); });
    bool complete = true;  // a missing table still fails the statement, as before
    for (const std::string& column : index.columns) {
      bool found = present.empty();
      for (const std::string& name : present) found = found || automation::EqualsNoCase(name, column);
      complete = complete && found;
    }
    if (complete) out.push_back({index.name, index.statement, IfNotExists(index.statement, "INDEX ")});
  }
  return out;
}

// The kept issue counts as a new site declares them: the table IssueCounts, then its triggers.
std::vector<Declared> IssueCountsDeclarations() {
  std::string_view file = schema::SqlFileText("020_issues_users.sql");
  std::vector<Declared> out;
  std::string table = StatementAt(file, file.find("CREATE TABLE IssueCounts ("));
  out.push_back({"IssueCounts", table, IfNotExists(table, "TABLE ")});
  for (size_t at = 0; (at = file.find("CREATE TRIGGER IssueCounts_", at)) != std::string_view::npos; ++at) {
    std::string trigger = StatementAt(file, at);
    out.push_back({DeclaredName(trigger, "TRIGGER "), trigger, IfNotExists(trigger, "TRIGGER ")});
  }
  return out;
}

// What the database lacks of the indexes and kept counts a new site has.
struct Lacking {
  std::vector<Declared> indexes;        // missing, or declared otherwise under the same name
  std::vector<std::string> redeclared;  // of those, the ones declared otherwise
  bool issueCounts = false;             // the table or one of its triggers
  bool textSearch = false;              // an index of the word search, or one of its triggers
  bool Any() const { return !indexes.empty() || issueCounts || textSearch; }
};

Lacking Lacks(ado::Connection& db) {
  // Every name with its declaration (squeezed, without IF NOT EXISTS, as SQLite records it).
  std::map<std::string, std::string> present;
  db.Each("select name, ifnull(sql, '') from sqlite_schema where type in ('table', 'index', 'trigger')", {},
          [&](sqlite3_stmt* st) {
            present[automation::LowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))] =
                schema::Squeezed(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
          });
  Lacking out;
  for (const Declared& index : SchemaIndexes(db)) {
    auto it = present.find(automation::LowerAscii(index.name));
    if (it == present.end()) {
      out.indexes.push_back(index);
    } else if (it->second != schema::Squeezed(index.declaration)) {
      // An earlier release's index of this name on fewer columns: the lists need the new one.
      out.indexes.push_back(index);
      out.redeclared.push_back(index.name);
    }
  }
  for (const Declared& part : IssueCountsDeclarations())
    if (!present.contains(automation::LowerAscii(part.name))) out.issueCounts = true;
  out.textSearch = schema::textsearch::FollowTextFields(db, true);
  return out;
}

void RollBack(ado::Connection& db) {
  // Straight on the handle: the connection's Errors keep the reason the upgrade failed.
  if (db.Handle() && !sqlite3_get_autocommit(db.Handle()))
    sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace

int16_t DbUpgrader::ReadVersion(ado::Connection& db) {
  try {
    int16_t version = 100;
    db.Each("select DatabaseVersion from VantrelSite", {}, [&](sqlite3_stmt* st) {
      version = static_cast<int16_t>(std::lround(sqlite3_column_double(st, 0) * 100));
    });
    return version;
  } catch (const std::exception& e) {
    // Only a missing site table means the oldest schema; busy, I/O or a damaged file must not
    // send the steps of 1.00 over a current database.
    if (Message(e).find("no such table") != std::string::npos) return 0;
    throw;
  }
}

void DbUpgrader::Upgrade(std::shared_ptr<ado::Connection> connection) {
  Procedure(kClass, "Upgrade", [&] {
    if (!connection) ThrowError(kClass, "Upgrade", "No connection was given.");
    ado::Connection& db = *connection;
    int16_t version = ReadVersion(db);
    log_.Trace(1, std::string(kTrace) + "Upgrade - Database version is " + std::to_string(version));
    // A site of this version made by an earlier release may still lack indexes or the kept counts.
    if (version > 111 || (version == 111 && !Lacks(db).Any())) {
      log_.Trace(1, std::string(kTrace) + "Upgrade - Finished");
      return;
    }
    db.BeginTrans();
    try {
      Steps(db, version);
      db.CommitTrans();
    } catch (...) {
      RollBack(db);
      throw;
    }
    log_.Trace(1, std::string(kTrace) + "Upgrade - Finished");
  });
}

void DbUpgrader::Steps(ado::Connection& db, int16_t version) {
  // Without a site table no step could record its version: the first step makes it.
  if (!schema::ddl::TableExists(db, "VantrelSite")) db.ExecuteNonQuery(SiteTableSql());
  if (version < 101) Upgrade100to101(db);
  if (version < 110) Upgrade101to110(db);
  if (version < 111) Upgrade110to111(db);
  CompleteIndexesAndCounts(db);
  CompleteTextSearch(db);
}

void DbUpgrader::Upgrade100to101(ado::Connection& db) {
  Procedure(kClass, "Upgrade100to101", [&] {
    namespace ddl = schema::ddl;
    log_.Trace(1, std::string(kTrace) + "Upgrade100To101 - Started");
    ddl::SetColumnNotNull(db, "IssueHistory", "NewResolutionCode", 50);
    ddl::SetColumnNotNull(db, "IssueHistory", "OldResolutionCode", 50);
    ddl::AddForeignKey(db, {"FK_IssueHistory_NewResolutions", "IssueHistory", {"NewResolutionCode"}, "Resolutions",
                            {"ResolutionCode"}});
    ddl::AddForeignKey(db, {"FK_Issues_Resolutions", "Issues", {"ResolutionCode"}, "Resolutions",
                            {"ResolutionCode"}});
    UpdateVersion(db, 1.01);
    log_.Trace(1, std::string(kTrace) + "Upgrade100To101 - Finished");
  });
}

void DbUpgrader::Tolerated(ado::Connection& db, const char* text, const std::function<void()>& statement) {
  try {
    statement();
  } catch (const std::exception& e) {
    // On a full disk or an I/O error the engine has rolled the whole transaction back: going on
    // would run the rest of the step outside it, statement by statement. Only the statement's own
    // refusal by the schema as it stands is passed over.
    const ado::ErrorInfo* first = db.ErrorList().First();
    const bool refused = first && (first->nativeError == schema::ddl::kNoSuchTable ||
                                   first->nativeError == schema::ddl::kObjectExists ||
                                   first->nativeError == schema::ddl::kTableReferenced);
    if (!db.InTransaction() || !refused) throw;
    log_.Trace(1, std::string(kTrace) + "Upgrade101To110 - " + text + Message(e));
  }
}

void DbUpgrader::Upgrade101to110(ado::Connection& db) {
  Procedure(kClass, "Upgrade101to110", [&] {
    namespace ddl = schema::ddl;
    log_.Trace(1, std::string(kTrace) + "Upgrade101To110 - Started");
    // The e-mail tables, their keys, defaults and index: the file a new site is made from.
    db.ExecuteNonQuery(schema::SqlFileText("040_email.sql"));
    for (const char* table : kEMailTables)
      if (ado::HasRowVersion(db.Handle(), table)) ado::InstallRowVersion(db.Handle(), table);
    ddl::AddColumn(db, "Users", ddl::NotNull("EMailEnabled", "BIT", "1", "DF_Users_EMailEnabled"));
    ddl::AddColumn(db, "Projects", ddl::NotNull("EMailEnabled", "BIT", "1", "DF_Projects_EMailEnabled"));
    Tolerated(db, "Error updating ProjectUseCases: ", [&] {
      ddl::AddColumn(db, "ProjectUseCases", ddl::NotNull("LastUpdated", "INTEGER", "0"));
      ado::InstallRowVersion(db.Handle(), "ProjectUseCases");
      // A timestamp column gives every row a version at once; the triggers give one on update.
      db.ExecuteNonQuery("update ProjectUseCases set LastUpdated = LastUpdated");
    });
    Tolerated(db, "Error dropping table IssueActivity: ", [&] { ddl::DropTable(db, "IssueActivity"); });
    Tolerated(db, "Error dropping table UserCases: ", [&] {
      bool registered = false;
      db.Each("select * from IssueCodeTables where TableName = 'UseCases'", {},
              [&](sqlite3_stmt*) { registered = true; });
      if (!registered) ddl::DropTable(db, "UseCases");
    });
    db.ExecuteNonQuery(schema::SqlFileText("120_email_rows.sql"));
    UpdateVersion(db, 1.1);
    log_.Trace(1, std::string(kTrace) + "Upgrade101To110 - Finished");
  });
}

void DbUpgrader::Upgrade110to111(ado::Connection& db) {
  Procedure(kClass, "Upgrade110to111", [&] {
    namespace ddl = schema::ddl;
    log_.Trace(1, std::string(kTrace) + "Upgrade110To111 - Started");
    // The e-mail file a 1.10 step of this release runs already declares it.
    if (!ddl::ColumnExists(db, "EMailConfiguration", "WebSiteURL"))
      ddl::AddColumn(db, "EMailConfiguration",
                     ddl::NotNull("WebSiteURL", "VARCHAR(100)", "''", "DF_VantrelSite_WebSiteURL"));
    // The site's address, which SetWebsiteURL writes, belongs to 1.11 as well.
    if (!ddl::ColumnExists(db, "VantrelSite", "WebSiteURL"))
      ddl::AddColumn(db, "VantrelSite", ddl::NotNull("WebSiteURL", "VARCHAR(100)", "''"));
    UpdateVersion(db, 1.11);
    log_.Trace(1, std::string(kTrace) + "Upgrade110To111 - Finished");
  });
}

void DbUpgrader::CompleteIndexesAndCounts(ado::Connection& db) {
  Procedure(kClass, "CompleteIndexesAndCounts", [&] {
    const Lacking lacking = Lacks(db);
    for (const std::string& name : lacking.redeclared) db.ExecuteNonQuery("drop index " + name);
    for (const Declared& index : lacking.indexes) db.ExecuteNonQuery(index.sql);
    if (!lacking.indexes.empty())
      log_.Trace(1, std::string(kTrace) + "CompleteIndexesAndCounts - Created " +
                        Counted(lacking.indexes.size(), "index", "indexes"));
    if (!lacking.issueCounts) return;
    // Without all of its triggers the counts cannot be trusted: they are counted afresh.
    const std::vector<Declared> parts = IssueCountsDeclarations();
    db.ExecuteNonQuery(parts.front().sql);
    db.ExecuteNonQuery("delete from IssueCounts");
    int64_t rows = db.ExecuteNonQuery(
        "insert into IssueCounts (ProjectId, StatusCode, Issues) "
        "select ProjectId, StatusCode, count(*) from Issues group by ProjectId, StatusCode");
    for (size_t i = 1; i < parts.size(); ++i) db.ExecuteNonQuery(parts[i].sql);
    log_.Trace(1, std::string(kTrace) + "CompleteIndexesAndCounts - Counted the issues into " +
                      Counted(rows, "row", "rows") + " of IssueCounts");
  });
}

void DbUpgrader::CompleteTextSearch(ado::Connection& db) {
  Procedure(kClass, "CompleteTextSearch", [&] {
    if (schema::textsearch::FollowTextFields(db))
      log_.Trace(1, std::string(kTrace) + "CompleteTextSearch - Made the indexes of the word search");
  });
}

void DbUpgrader::UpdateVersion(ado::Connection& db, double version) {
  Procedure(kClass, "UpdateVersion", [&] {
    const ado::Params params{ado::Param::Text(DecimalText(version), 10)};
    const char* now = "strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')";
    if (db.ExecuteNonQuery(std::string("update VantrelSite set DatabaseVersion = ?, LastUpdated = ") + now,
                           params) <= 0)
      db.ExecuteNonQuery(std::string("insert into VantrelSite (DatabaseVersion, LastUpdated) values (?, ") + now +
                             ")",
                         params);
    log_.Trace(0, std::string(kTrace) + "UpdateVersion - Database version set to " + TwoDecimals(version));
  });
}

namespace {

void UpgradeDatabase(Database& db) {
  Procedure("Database", "UpgradeDatabase", [&] { std::make_shared<DbUpgrader>()->Upgrade(db.ConnectionPtr()); });
}

automation::Register<DbUpgrader> regUpgrader("DbUpgrader", "Brisquel.DbUpgrader", [](auto& c) {
  c.Method("Upgrade", &DbUpgrader::Upgrade);
});

automation::Register<Database> regDatabase([](auto& c) { c.Method("UpgradeDatabase", &UpgradeDatabase); });

}  // namespace

}  // namespace brisquel

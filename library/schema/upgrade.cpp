#include "schema/upgrade.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <functional>

#include "ado/row_version.h"
#include "automation/dispatch.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/sql.h"
#include "schema/ddl.h"
#include "schema/sql_files.h"

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
    if (version >= 111) {
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

void DbUpgrader::Tolerated(const char* text, const std::function<void()>& statement) {
  try {
    statement();
  } catch (const std::exception& e) {
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
    Tolerated("Error updating ProjectUseCases: ", [&] {
      ddl::AddColumn(db, "ProjectUseCases", ddl::NotNull("LastUpdated", "INTEGER", "0"));
      ado::InstallRowVersion(db.Handle(), "ProjectUseCases");
      // A timestamp column gives every row a version at once; the triggers give one on update.
      db.ExecuteNonQuery("update ProjectUseCases set LastUpdated = LastUpdated");
    });
    Tolerated("Error dropping table IssueActivity: ", [&] { ddl::DropTable(db, "IssueActivity"); });
    Tolerated("Error dropping table UserCases: ", [&] {
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

#include "ado/row_version.h"

#include "ado/errors.h"
#include "ado/types.h"
#include "automation/text.h"

#include <vector>

namespace ado {

namespace {

using automation::EqualsNoCase;

std::string Quote(std::string_view name) { return ado::QuoteIdentifier(name); }

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "unknown error";
    sqlite3_free(err);
    Raise(err::kFail, "ADODB.Connection", std::move(msg));
  }
}

}  // namespace

std::string RowVersionCounterSql() {
  return "CREATE TABLE IF NOT EXISTS VantrelRowVersion ("
         "Id INTEGER PRIMARY KEY CHECK (Id = 1), Version INTEGER NOT NULL);\n"
         "INSERT OR IGNORE INTO VantrelRowVersion (Id, Version) VALUES (1, 0);\n";
}

std::string RowVersionTriggersSql(std::string_view table, std::string_view rowKey) {
  std::string t = Quote(table);
  std::string base(table);
  std::string ins = Quote(base + "_RowVersionInsert");
  std::string upd = Quote(base + "_RowVersionUpdate");
  const std::string key = Quote(rowKey);
  std::string bump =
      " BEGIN"
      " UPDATE VantrelRowVersion SET Version = Version + 1 WHERE Id = 1;"
      " UPDATE " + t + " SET LastUpdated = (SELECT Version FROM VantrelRowVersion WHERE Id = 1)"
      " WHERE " + key + " = NEW." + key + ";"
      " END;\n";
  // The inner UPDATE changes LastUpdated, so the update trigger's WHEN clause stops it from
  // firing again even with recursive triggers on.
  return "DROP TRIGGER IF EXISTS " + ins + ";\n" + "DROP TRIGGER IF EXISTS " + upd + ";\n" +
         "CREATE TRIGGER " + ins + " AFTER INSERT ON " + t + " FOR EACH ROW" + bump +
         "CREATE TRIGGER " + upd + " AFTER UPDATE ON " + t +
         " FOR EACH ROW WHEN NEW.LastUpdated IS OLD.LastUpdated" + bump;
}

std::string RowKey(sqlite3* db, std::string_view table) {
  std::vector<std::string> columns, integerKey;
  int keyColumns = 0;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, type, pk FROM pragma_table_info(?)", -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(st, 1, std::string(table).c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto text = [&](int i) {
        auto v = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return std::string(v ? v : "");
      };
      columns.push_back(text(0));
      if (sqlite3_column_int(st, 2) == 0) continue;
      ++keyColumns;
      if (EqualsNoCase(text(1), "INTEGER")) integerKey.push_back(text(0));
    }
  }
  sqlite3_finalize(st);
  // The INTEGER PRIMARY KEY is the rowid under a name no later column can take.
  if (keyColumns == 1 && integerKey.size() == 1) return integerKey.front();
  for (std::string_view name : {"rowid", "_rowid_", "oid"}) {
    bool taken = false;
    for (const std::string& c : columns) taken = taken || EqualsNoCase(c, name);
    if (!taken) return std::string(name);
  }
  return "rowid";
}

void InstallRowVersion(sqlite3* db, std::string_view table) {
  Exec(db, RowVersionCounterSql() + RowVersionTriggersSql(table, RowKey(db, table)));
}

bool HasRowVersion(sqlite3* db, std::string_view table) {
  sqlite3_stmt* st = nullptr;
  std::string sql = "SELECT type FROM pragma_table_info(?) WHERE name = 'LastUpdated' COLLATE NOCASE";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_text(st, 1, std::string(table).c_str(), -1, SQLITE_TRANSIENT);
  bool yes = false;
  if (sqlite3_step(st) == SQLITE_ROW) {
    auto type = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    std::string t = type ? type : "";
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    yes = t == "INTEGER" || t == "BIGINT" || t == "ROWVERSION" || t == "TIMESTAMP";
  }
  sqlite3_finalize(st);
  return yes;
}

}  // namespace ado

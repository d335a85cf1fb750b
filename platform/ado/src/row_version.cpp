#include "ado/row_version.h"

#include "ado/errors.h"
#include "ado/types.h"

namespace ado {

namespace {

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

std::string RowVersionTriggersSql(std::string_view table) {
  std::string t = Quote(table);
  std::string base(table);
  std::string ins = Quote(base + "_RowVersionInsert");
  std::string upd = Quote(base + "_RowVersionUpdate");
  std::string bump =
      " BEGIN"
      " UPDATE VantrelRowVersion SET Version = Version + 1 WHERE Id = 1;"
      " UPDATE " + t + " SET LastUpdated = (SELECT Version FROM VantrelRowVersion WHERE Id = 1)"
      " WHERE rowid = NEW.rowid;"
      " END;\n";
  // The inner UPDATE changes LastUpdated, so the update trigger's WHEN clause stops it from
  // firing again even with recursive triggers on.
  return "DROP TRIGGER IF EXISTS " + ins + ";\n" + "DROP TRIGGER IF EXISTS " + upd + ";\n" +
         "CREATE TRIGGER " + ins + " AFTER INSERT ON " + t + " FOR EACH ROW" + bump +
         "CREATE TRIGGER " + upd + " AFTER UPDATE ON " + t +
         " FOR EACH ROW WHEN NEW.LastUpdated IS OLD.LastUpdated" + bump;
}

void InstallRowVersion(sqlite3* db, std::string_view table) {
  Exec(db, RowVersionCounterSql() + RowVersionTriggersSql(table));
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

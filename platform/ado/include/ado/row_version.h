// Row versions. Every table whose rows a writer takes back through a recordset has an INTEGER
// column LastUpdated that triggers set from one database-wide counter on every insert and update,
// so a write whose criteria name the version it read finds no row once someone else wrote it.
// The recordset layer never writes the column itself.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace ado {

inline constexpr std::string_view kRowVersionColumn = "LastUpdated";
inline constexpr std::string_view kRowVersionCounterTable = "VantrelRowVersion";

// SQL creating the counter table (idempotent).
std::string RowVersionCounterSql();
// SQL creating (or re-creating) the two triggers that keep <table>.LastUpdated; they find the row
// written by `rowKey`, a name of its rowid (RowKey).
std::string RowVersionTriggersSql(std::string_view table, std::string_view rowKey = "rowid");
// The name the triggers find a row of the table by: its INTEGER PRIMARY KEY, which no column
// added later can shadow, else the first of rowid, _rowid_ and oid that no column takes.
std::string RowKey(sqlite3* db, std::string_view table);
// Runs both on an open database; a failure is the layer's error (&H80004005) with SQLite's message.
void InstallRowVersion(sqlite3* db, std::string_view table);
// True when the table has an INTEGER LastUpdated column (a row version, not a date).
bool HasRowVersion(sqlite3* db, std::string_view table);

}  // namespace ado

#include "schema/constraints.h"

#include "ado/types.h"
#include "core/error_protocol.h"

namespace brisquel::schema {

namespace {

std::string Quote(std::string_view name) { return ado::QuoteIdentifier(name); }

std::string Literal(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

std::vector<std::string> SplitColumns(const std::string& list) {
  std::vector<std::string> out;
  std::string item;
  for (char c : list) {
    if (c == ',') {
      out.push_back(item);
      item.clear();
    } else if (c != ' ') {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

// "A"."x" = ROW."y" AND ... over the column pairs.
std::string Match(const std::string& table, const std::vector<std::string>& cols,
                  std::string_view row, const std::vector<std::string>& rowCols) {
  std::string s;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) s += " AND ";
    s += Quote(table) + "." + Quote(cols[i]) + " = " + std::string(row) + "." + Quote(rowCols[i]);
  }
  return s;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    RaiseFailure(msg);
  }
}

}  // namespace

std::string ForeignKeyTriggersSql(const ForeignKey& key) {
  if (key.columns.empty() || key.columns.size() != key.referencedColumns.size()) {
    RaiseFailure("Foreign key " + key.name + " pairs no columns");
  }
  const std::string raise = " BEGIN SELECT RAISE(ABORT, " +
                            Literal(std::string(kForeignKeyFailed) + " (" + key.name + ")") +
                            "); END;\n";
  std::string notNull;
  for (const auto& c : key.columns) notNull += "NEW." + Quote(c) + " IS NOT NULL AND ";
  const std::string childCheck = " FOR EACH ROW WHEN " + notNull + "NOT EXISTS (SELECT 1 FROM " +
                                 Quote(key.referencedTable) + " WHERE " +
                                 Match(key.referencedTable, key.referencedColumns, "NEW", key.columns) +
                                 ")" + raise;
  // Checked after the change, so that a parent row replaced within one statement (a rename that
  // only changes letter case, say) still counts.
  const std::string orphanCheck =
      " FOR EACH ROW WHEN EXISTS (SELECT 1 FROM " + Quote(key.table) + " WHERE " +
      Match(key.table, key.columns, "OLD", key.referencedColumns) + ") AND NOT EXISTS (SELECT 1 FROM " +
      Quote(key.referencedTable) + " WHERE " +
      Match(key.referencedTable, key.referencedColumns, "OLD", key.referencedColumns) + ")" + raise;
  auto list = [](const std::vector<std::string>& cols) {
    std::string s;
    for (size_t i = 0; i < cols.size(); ++i) s += (i ? ", " : "") + Quote(cols[i]);
    return s;
  };
  return DropForeignKeyTriggersSql(key.name) +
         "CREATE TRIGGER " + Quote(key.name + "_ChildInsert") + " BEFORE INSERT ON " +
         Quote(key.table) + childCheck +
         "CREATE TRIGGER " + Quote(key.name + "_ChildUpdate") + " BEFORE UPDATE OF " +
         list(key.columns) + " ON " + Quote(key.table) + childCheck +
         "CREATE TRIGGER " + Quote(key.name + "_ParentDelete") + " AFTER DELETE ON " +
         Quote(key.referencedTable) + orphanCheck +
         "CREATE TRIGGER " + Quote(key.name + "_ParentUpdate") + " AFTER UPDATE OF " +
         list(key.referencedColumns) + " ON " + Quote(key.referencedTable) + orphanCheck;
}

std::string DropForeignKeyTriggersSql(std::string_view name) {
  std::string sql;
  for (const char* suffix : {"_ChildInsert", "_ChildUpdate", "_ParentDelete", "_ParentUpdate"}) {
    sql += "DROP TRIGGER IF EXISTS " + Quote(std::string(name) + suffix) + ";\n";
  }
  return sql;
}

std::vector<ForeignKey> TriggerForeignKeys(sqlite3* db, std::string_view table) {
  const char* sql =
      "SELECT ConstraintName, TableName, ColumnNames, ReferencedTable, ReferencedColumns "
      "FROM VantrelConstraints WHERE ConstraintType = 'FOREIGN KEY' AND Enforcement = 'TRIGGER' "
      "AND (?1 = '' OR TableName = ?1 OR ReferencedTable = ?1) ORDER BY ConstraintName";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
    RaiseFailure(sqlite3_errmsg(db));
  }
  // An empty view may carry no pointer, which would bind NULL rather than ''.
  const std::string tableName(table);
  sqlite3_bind_text(st, 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<ForeignKey> keys;
  auto text = [st](int i) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return std::string(p ? p : "");
  };
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    keys.push_back({text(0), text(1), SplitColumns(text(2)), text(3), SplitColumns(text(4))});
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) RaiseFailure(sqlite3_errmsg(db));
  return keys;
}

void InstallTriggerForeignKeys(sqlite3* db, std::string_view table) {
  for (const auto& key : TriggerForeignKeys(db, table)) Exec(db, ForeignKeyTriggersSql(key));
}

}  // namespace brisquel::schema

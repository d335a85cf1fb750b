#include "schema/ddl.h"

#include "ado/row_version.h"
#include "automation/text.h"
#include "core/sql.h"
#include "schema/ddl_internal.h"
#include "schema/sql_files.h"

namespace brisquel::schema::ddl {

namespace detail {

std::string Quote(std::string_view name) { return ado::QuoteIdentifier(name); }

std::string Literal(std::string_view text) {
  std::string q = "'";
  for (char ch : text) {
    if (ch == '\'') q += '\'';
    q += ch;
  }
  return q + "'";
}

void Exec(ado::Connection& c, const std::string& sql, const ado::Params& params) { c.ExecuteNonQuery(sql, params); }

std::vector<std::string> Texts(ado::Connection& c, const std::string& sql, const ado::Params& params) {
  std::vector<std::string> out;
  c.Each(sql, params, [&](sqlite3_stmt* st) { out.push_back(sql::Row(st).Text(0)); });
  return out;
}

ado::Param Name(std::string_view s) { return ado::Param::Text(std::string(s), 1000); }

void RaiseDdlError(ado::Connection& c, int32_t native, std::string message, int32_t number) {
  ado::ErrorInfo e;
  e.number = number;
  e.nativeError = native;
  e.source = "SQLite";
  e.description = std::move(message);
  e.sqlState = "42000";
  c.ErrorList().Clear();
  c.ErrorList().Add(e);
  ado::Raise(e);
}

Step::Step(ado::Connection& c) : c_(c) { Exec(c, "SAVEPOINT VantrelDdl"); }

// Undone without touching the connection's Errors: they hold the reason.
Step::~Step() {
  if (!done_ && c_.Handle())
    sqlite3_exec(c_.Handle(), "ROLLBACK TO VantrelDdl; RELEASE VantrelDdl", nullptr, nullptr, nullptr);
}

void Step::Done() {
  Exec(c_, "RELEASE VantrelDdl");
  done_ = true;
}

namespace {

std::vector<std::string> SplitColumns(const std::string& list) {
  std::vector<std::string> out;
  std::string item;
  for (char ch : list) {
    if (ch == ',') {
      out.push_back(item);
      item.clear();
    } else if (ch != ' ') {
      item += ch;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

}  // namespace

std::string JoinColumns(const std::vector<std::string>& columns) {
  std::string s;
  for (const std::string& col : columns) s += (s.empty() ? "" : ",") + col;
  return s;
}

bool Holds(const std::vector<std::string>& columns, std::string_view column) {
  for (const std::string& col : columns)
    if (EqualsNoCase(col, column)) return true;
  return false;
}

std::vector<Constraint> Constraints(ado::Connection& c, std::string_view where, const ado::Params& params) {
  std::vector<Constraint> out;
  c.Each("SELECT ConstraintName, TableName, ConstraintType, ColumnNames, ReferencedTable, ReferencedColumns, "
         "Definition, Enforcement FROM VantrelConstraints WHERE " + std::string(where) + " ORDER BY ConstraintName",
         params, [&](sqlite3_stmt* st) {
           sql::Row r(st);
           out.push_back({r.Text(0), r.Text(1), r.Text(2), SplitColumns(r.Text(3)), r.Text(4),
                          SplitColumns(r.Text(5)), r.Text(6), r.Text(7)});
         });
  return out;
}

void InsertConstraint(ado::Connection& c, const Constraint& k) {
  Exec(c,
       "INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames, ReferencedTable, "
       "ReferencedColumns, Definition, Enforcement) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
       {Name(k.name), Name(k.table), Name(k.type), Name(JoinColumns(k.columns)), Name(k.referencedTable),
        Name(JoinColumns(k.referencedColumns)), Name(k.definition), Name(k.enforcement)});
}

std::vector<std::string> ColumnNames(ado::Connection& c, std::string_view table) {
  return Texts(c, "SELECT name FROM pragma_table_info(?) ORDER BY cid", {Name(table)});
}

std::string RequireTable(ado::Connection& c, std::string_view table, int32_t native) {
  auto names = Texts(c, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE", {Name(table)});
  if (names.empty()) RaiseDdlError(c, native, "The table '" + std::string(table) + "' does not exist.");
  return names[0];
}

std::string RequireColumn(ado::Connection& c, std::string_view table, std::string_view column) {
  for (const std::string& name : ColumnNames(c, table))
    if (EqualsNoCase(name, column)) return name;
  RaiseDdlError(c, kInvalidColumn, "Invalid column name '" + std::string(column) + "'.");
}

void RequireFreeName(ado::Connection& c, std::string_view name) {
  bool taken = !Texts(c, "SELECT ConstraintName FROM VantrelConstraints WHERE ConstraintName = ?", {Name(name)})
                    .empty() ||
               !Texts(c, "SELECT name FROM sqlite_schema WHERE name = ? COLLATE NOCASE", {Name(name)}).empty();
  if (taken)
    RaiseDdlError(c, kObjectExists, "There is already an object named '" + std::string(name) + "' in the database.");
}

}  // namespace detail

using namespace detail;

namespace {

bool IsText(const std::string& type) {
  for (const char* t : {"VARCHAR", "NVARCHAR", "CHAR", "TEXT"})
    if (EqualsNoCase(type.substr(0, std::string_view(t).size()), t)) return true;
  return false;
}

std::string ColumnSql(const Column& col) {
  std::string s = Quote(col.name) + " " + col.type;
  if (col.notNull) s += " NOT NULL";
  if (IsText(col.type)) s += " COLLATE NOCASE";
  if (col.defaultSql) {
    if (!col.defaultName.empty()) s += " CONSTRAINT " + Quote(col.defaultName);
    s += " DEFAULT " + *col.defaultSql;
  }
  return s;
}

std::string List(const std::vector<std::string>& columns) {
  std::string s;
  for (const std::string& col : columns) s += (s.empty() ? "" : ", ") + Quote(col);
  return s;
}

Constraint DefaultRow(const std::string& table, const Column& col) {
  return {col.defaultName, table, "DEFAULT", {col.name}, "", {}, *col.defaultSql, "DECLARED"};
}

void RequireNewColumn(ado::Connection& c, std::string_view table, std::string_view column) {
  for (const std::string& name : ColumnNames(c, table))
    if (EqualsNoCase(name, column))
      RaiseDdlError(c, kObjectExists,
                    "Column names in each table must be unique. Column name '" + std::string(column) + "' in table '" +
                        std::string(table) + "' is specified more than once.");
}

}  // namespace

bool TableExists(ado::Connection& c, std::string_view table) {
  return !Texts(c, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ? COLLATE NOCASE", {Name(table)}).empty();
}

bool ColumnExists(ado::Connection& c, std::string_view table, std::string_view column) {
  for (const std::string& name : ColumnNames(c, table))
    if (EqualsNoCase(name, column)) return true;
  return false;
}

void CreateTable(ado::Connection& c, const Table& t) {
  Step step(c);
  RequireFreeName(c, t.name);
  if (!t.keyName.empty()) RequireFreeName(c, t.keyName);
  for (const ForeignKey& k : t.foreignKeys) RequireFreeName(c, k.name);
  std::string body;
  for (const Column& col : t.columns) {
    body += (body.empty() ? "" : ",\n  ") + ColumnSql(col);
    if (col.defaultSql && !col.defaultName.empty()) RequireFreeName(c, col.defaultName);
  }
  if (!t.keyName.empty()) body += ",\n  CONSTRAINT " + Quote(t.keyName) + " PRIMARY KEY (" + List(t.key) + ")";
  for (const ForeignKey& k : t.foreignKeys)
    body += ",\n  CONSTRAINT " + Quote(k.name) + " FOREIGN KEY (" + List(k.columns) + ") REFERENCES " +
            Quote(k.referencedTable) + " (" + List(k.referencedColumns) + ")";
  Exec(c, "CREATE TABLE " + Quote(t.name) + " (\n  " + body + "\n)");
  if (!t.keyName.empty()) InsertConstraint(c, {t.keyName, t.name, "PRIMARY KEY", t.key, "", {}, "", "DECLARED"});
  for (const ForeignKey& k : t.foreignKeys)
    InsertConstraint(c, {k.name, t.name, "FOREIGN KEY", k.columns, k.referencedTable, k.referencedColumns, "",
                         "DECLARED"});
  for (const Column& col : t.columns)
    if (col.defaultSql && !col.defaultName.empty()) InsertConstraint(c, DefaultRow(t.name, col));
  if (ado::HasRowVersion(c.Handle(), t.name))
    Exec(c, ado::RowVersionCounterSql() + ado::RowVersionTriggersSql(t.name, ado::RowKey(c.Handle(), t.name)));
  step.Done();
}

void AddColumn(ado::Connection& c, std::string_view tableName, const Column& col) {
  Step step(c);
  const std::string table = RequireTable(c, tableName);
  RequireNewColumn(c, table, col.name);
  if (col.defaultSql && !col.defaultName.empty()) RequireFreeName(c, col.defaultName);
  Exec(c, "ALTER TABLE " + Quote(table) + " ADD COLUMN " + ColumnSql(col));
  if (col.defaultSql && !col.defaultName.empty()) InsertConstraint(c, DefaultRow(table, col));
  // The indexes a new site has on the column come back with it (a column dropped earlier).
  const std::vector<std::string> columns = ColumnNames(c, table);
  for (const DeclaredIndex& index : DeclaredIndexes()) {
    if (!EqualsNoCase(index.table, table) || !Holds(index.columns, col.name)) continue;
    bool complete = true;
    for (const std::string& name : index.columns) complete = complete && Holds(columns, name);
    const std::string taken = "SELECT name FROM sqlite_schema WHERE name = ? COLLATE NOCASE";
    if (complete && Texts(c, taken, {Name(index.name)}).empty()) Exec(c, index.statement);
  }
  step.Done();
}

void AddForeignKey(ado::Connection& c, const ForeignKey& key) {
  Step step(c);
  RequireFreeName(c, key.name);
  ForeignKey k = key;
  k.table = RequireTable(c, key.table);
  k.referencedTable = RequireTable(c, key.referencedTable);
  for (std::string& col : k.columns) col = RequireColumn(c, k.table, col);
  for (std::string& col : k.referencedColumns) col = RequireColumn(c, k.referencedTable, col);
  InsertConstraint(c, {k.name, k.table, "FOREIGN KEY", k.columns, k.referencedTable, k.referencedColumns, "",
                       "TRIGGER"});
  Exec(c, ForeignKeyTriggersSql(k));
  step.Done();
}

void DropConstraint(ado::Connection& c, std::string_view tableName, std::string_view name) {
  Step step(c);
  auto rows = Constraints(c, "ConstraintName = ? AND TableName = ?", {Name(name), Name(tableName)});
  if (rows.empty()) RaiseDdlError(c, kNotAConstraint, "'" + std::string(name) + "' is not a constraint.");
  const Constraint& k = rows[0];
  if (k.type == "FOREIGN KEY" && EqualsNoCase(k.enforcement, "TRIGGER")) {
    Exec(c, DropForeignKeyTriggersSql(k.name));
  } else if (k.type == "DEFAULT") {
    RebuildWithColumn(c, RequireTable(c, k.table), k.columns.at(0), [&](const std::string& definition) {
      bool found = false;
      std::string edited = WithoutDefault(definition, found);
      if (!found) RaiseDdlError(c, kNotAConstraint, "'" + k.name + "' is not a constraint.");
      return edited;
    });
  } else {
    RaiseDdlError(
        c, kColumnDependency,
        "The constraint '" + k.name + "' is part of the declaration of table '" + k.table + "' and cannot be dropped.");
  }
  Exec(c, "DELETE FROM VantrelConstraints WHERE ConstraintName = ?", {Name(k.name)});
  step.Done();
}

void DropColumn(ado::Connection& c, std::string_view tableName, std::string_view columnName) {
  Step step(c);
  const std::string table = RequireTable(c, tableName);
  const std::string column = RequireColumn(c, table, columnName);
  for (const Constraint& k : Constraints(c, "TableName = ?1 OR ReferencedTable = ?1", {Name(table)})) {
    bool mine = EqualsNoCase(k.table, table) && Holds(k.columns, column);
    bool referenced =
        EqualsNoCase(k.referencedTable, table) && Holds(k.referencedColumns, column) && !EqualsNoCase(k.table, table);
    if (referenced || (mine && !(k.type == "FOREIGN KEY" && EqualsNoCase(k.enforcement, "TRIGGER"))))
      RaiseDdlError(c, kColumnDependency, "The object '" + k.name + "' is dependent on column '" + column + "'.");
    if (mine) {
      Exec(c, DropForeignKeyTriggersSql(k.name));
      Exec(c, "DELETE FROM VantrelConstraints WHERE ConstraintName = ?", {Name(k.name)});
    }
  }
  // Our own indexes (CREATE INDEX, which the engine lists with their SQL) go with the column; one the
  // engine made for a key still refuses.
  const std::string onColumn =
      "SELECT DISTINCT m.name FROM sqlite_schema AS m JOIN pragma_index_info(m.name) AS i "
      "WHERE m.type = 'index' AND m.tbl_name = ? AND i.name = ? COLLATE NOCASE AND m.sql IS ";
  for (const std::string& index : Texts(c, onColumn + "NOT NULL", {Name(table), Name(column)}))
    Exec(c, "DROP INDEX " + Quote(index));
  auto indexes = Texts(c, onColumn + "NULL", {Name(table), Name(column)});
  if (!indexes.empty())
    RaiseDdlError(c, kColumnDependency, "The object '" + indexes[0] + "' is dependent on column '" + column + "'.");
  Exec(c, "ALTER TABLE " + Quote(table) + " DROP COLUMN " + Quote(column));
  step.Done();
}

void SetColumnWidth(ado::Connection& c, std::string_view tableName, std::string_view columnName, int32_t width) {
  Step step(c);
  const std::string table = RequireTable(c, tableName);
  const std::string column = RequireColumn(c, table, columnName);
  RebuildWithColumn(c, table, column, [&](const std::string& definition) {
    bool found = false;
    std::string edited = WithWidth(definition, width, found);
    if (!found)
      RaiseDdlError(c, kColumnDependency,
                    "The column '" + column + "' of table '" + table + "' is not a VARCHAR column.");
    return edited;
  });
  step.Done();
}

namespace {

std::vector<std::string> Renamed(std::vector<std::string> columns, std::string_view from, std::string_view to) {
  for (std::string& col : columns)
    if (EqualsNoCase(col, from)) col = std::string(to);
  return columns;
}

// The other tables' keys that refer to the column: the first one refuses the rename.
void RefuseReferencedColumn(ado::Connection& c, const std::string& table, const std::string& column) {
  for (const Constraint& k : Constraints(c, "ReferencedTable = ? AND ConstraintType = 'FOREIGN KEY'", {Name(table)})) {
    if (EqualsNoCase(k.table, table) || !Holds(k.referencedColumns, column)) continue;
    std::string key = "PK_" + table;
    for (const Constraint& own : Constraints(c, "TableName = ? AND ConstraintType IN ('PRIMARY KEY', 'UNIQUE')",
                                             {Name(table)}))
      if (Holds(own.columns, column)) key = own.name;
    RaiseDdlError(c, kKeyReferenced,
                  "The constraint '" + key + "' is being referenced by table '" + k.table +
                      "', foreign key constraint '" + k.name + "'.");
  }
}

}  // namespace

void RenameColumn(ado::Connection& c, std::string_view tableName, std::string_view fromName, std::string_view to) {
  Step step(c);
  const std::string table = RequireTable(c, tableName);
  const std::string from = RequireColumn(c, table, fromName);
  if (from == to) return step.Done();
  if (!EqualsNoCase(from, to)) RequireNewColumn(c, table, to);
  RefuseReferencedColumn(c, table, from);
  const std::string alter = "ALTER TABLE " + Quote(table) + " RENAME COLUMN ";
  if (EqualsNoCase(from, to)) {
    // Names compare without regard to case: a change of case alone goes by a name of its own.
    Exec(c, alter + Quote(from) + " TO " + Quote("VantrelRename_" + from));
    Exec(c, alter + Quote("VantrelRename_" + from) + " TO " + Quote(to));
  } else {
    Exec(c, alter + Quote(from) + " TO " + Quote(to));
  }
  for (const Constraint& k : Constraints(c, "TableName = ?1 OR ReferencedTable = ?1", {Name(table)})) {
    auto columns = EqualsNoCase(k.table, table) ? Renamed(k.columns, from, to) : k.columns;
    auto referenced =
        EqualsNoCase(k.referencedTable, table) ? Renamed(k.referencedColumns, from, to) : k.referencedColumns;
    Exec(c, "UPDATE VantrelConstraints SET ColumnNames = ?, ReferencedColumns = ? WHERE ConstraintName = ?",
         {Name(JoinColumns(columns)), Name(JoinColumns(referenced)), Name(k.name)});
  }
  step.Done();
}

void DropTable(ado::Connection& c, std::string_view tableName) {
  Step step(c);
  const std::string table = RequireTable(c, tableName, kNoSuchTable);
  for (const Constraint& k : Constraints(c, "ReferencedTable = ? AND ConstraintType = 'FOREIGN KEY'", {Name(table)}))
    if (!EqualsNoCase(k.table, table))
      RaiseDdlError(c, kTableReferenced,
                    "Could not drop object '" + table + "' because it is referenced by a FOREIGN KEY constraint.");
  auto fields = Texts(c, "SELECT FieldName FROM IssueFields WHERE TableName = ? ORDER BY FieldName", {Name(table)});
  if (!fields.empty())
    RaiseDdlError(
        c, kTableReferenced,
        "Could not drop object '" + table + "' because it is referenced by the issue field '" + fields[0] + "'.");
  for (const Constraint& k : Constraints(c, "TableName = ?", {Name(table)})) {
    if (k.type == "FOREIGN KEY" && EqualsNoCase(k.enforcement, "TRIGGER")) Exec(c, DropForeignKeyTriggersSql(k.name));
  }
  Exec(c, "DELETE FROM VantrelConstraints WHERE TableName = ?", {Name(table)});
  Exec(c, "DROP TABLE " + Quote(table));
  step.Done();
}

}  // namespace brisquel::schema::ddl

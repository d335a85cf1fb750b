// Run-time DDL over any table of a site database: what custom fields, code tables and the version
// steps change in the schema while the site runs. SQLite has no named constraints, no ALTER COLUMN
// and no way to add a key to an existing table, so every operation keeps the constraint catalogue
// VantrelConstraints in step (constraints.h) and emulates what SQLite lacks:
//   - a foreign key added to an existing table is enforced by triggers ("with nocheck");
//   - a width change or a dropped default rebuilds the table, keeping its rows, rowids, the
//     AUTOINCREMENT counter, indexes, every trigger and the catalogue; the rows get a new row version,
//     so a recordset read before the change no longer writes back;
//   - a column is dropped after its trigger keys, which SQLite would otherwise refuse.
//
// Each operation runs inside the caller's transaction (under a savepoint of its own, so a failure
// leaves nothing of that operation). A refusal puts its error first in the connection's Errors,
// with the native number writers test (below), and raises it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/connection.h"
#include "schema/constraints.h"

namespace brisquel::schema::ddl {

// Native numbers of the refusals, as SQL Server numbered them.
inline constexpr int32_t kInvalidColumn = 207;        // no such column
inline constexpr int32_t kObjectExists = 2714;        // a taken table, column or constraint name
inline constexpr int32_t kNoSuchTable = 3701;         // dropping a table that is not there
inline constexpr int32_t kKeyReferenced = 3725;       // renaming a column another table's key uses
inline constexpr int32_t kTableReferenced = 3726;     // dropping a table something refers to
inline constexpr int32_t kNotAConstraint = 3728;      // dropping a constraint that is not there
inline constexpr int32_t kColumnDependency = 5074;    // dropping or rebuilding what others depend on

struct Column {
  std::string name;
  std::string type;                       // "VARCHAR(50)", "INTEGER", "BIT"; text gets COLLATE NOCASE
  bool notNull = true;
  std::optional<std::string> defaultSql;  // the default as SQL text ('' or 0); none when empty
  std::string defaultName;                // its constraint name (DF_...); may stay empty
};
// A NOT NULL column.
inline Column NotNull(std::string name, std::string type, std::optional<std::string> defaultSql = std::nullopt,
                      std::string defaultName = {}) {
  return Column{std::move(name), std::move(type), true, std::move(defaultSql), std::move(defaultName)};
}

struct Table {
  std::string name;
  std::vector<Column> columns;            // a LastUpdated INTEGER column is made the row version
  std::string keyName;                    // the primary key's constraint name (pk_T)
  std::vector<std::string> key;
  std::vector<ForeignKey> foreignKeys;    // declared with the table
};

// Creates the table with its key and declared foreign keys, catalogues them and installs the
// row version. A taken table or constraint name: 2714.
void CreateTable(ado::Connection& c, const Table& table);

// Adds a column; a NOT NULL column needs a default, which existing rows take. The indexes a new
// site declares on the column are made when missing. A taken column or default name: 2714; no
// such table: 3701.
void AddColumn(ado::Connection& c, std::string_view table, const Column& column);

// Adds a foreign key "with nocheck": rows already there are not checked, later writes are
// (native 547). A taken name: 2714; a missing column on either side: 207.
void AddForeignKey(ado::Connection& c, const ForeignKey& key);

// Drops a constraint of the table by name: a trigger key loses its triggers, a default is taken
// out of the column's declaration (a rebuild). None of that name on the table: 3728, "'<name>' is
// not a constraint."; a primary or unique key cannot be dropped here (5074).
void DropConstraint(ado::Connection& c, std::string_view table, std::string_view name);

// Drops a column after the trigger keys and the indexes (CREATE INDEX) of this table that use it.
// Refused (5074) while a key of another table refers to it or a default or key of the table is
// on it; 207 when missing.
void DropColumn(ado::Connection& c, std::string_view table, std::string_view column);

// Gives a VARCHAR column another declared width (the data layer holds values to it). Values are
// not cut: a caller shrinking a column cuts them first.
void SetColumnWidth(ado::Connection& c, std::string_view table, std::string_view column, int32_t width);

// Renames a column; triggers and the catalogue follow. Refused with 3725 ("The constraint 'pk_T'
// is being referenced by table 'Issues', foreign key constraint 'fk_T_X'.") while another table's
// key refers to it; a taken name: 2714.
void RenameColumn(ado::Connection& c, std::string_view table, std::string_view from, std::string_view to);

// Drops a table with its catalogue rows. Refused with 3726 (ADO number &H80040E14) while another
// table's key refers to it or an IssueFields row names it as its list; 3701 when missing.
void DropTable(ado::Connection& c, std::string_view table);

// Questions the operations ask, for callers that check first.
bool TableExists(ado::Connection& c, std::string_view table);
bool ColumnExists(ado::Connection& c, std::string_view table, std::string_view column);

}  // namespace brisquel::schema::ddl

namespace brisquel::schema::ddl {

// Makes a VARCHAR column NOT NULL with the declared width given (a table rebuild that keeps rows,
// rowids, indexes, triggers and the catalogue). A NULL already in the column refuses it with the
// engine's NOT NULL error (native 515) and changes nothing.
void SetColumnNotNull(ado::Connection& c, std::string_view table, std::string_view column, int32_t width);

}  // namespace brisquel::schema::ddl

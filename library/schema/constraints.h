// Named constraints that SQLite cannot keep by name: the catalogue VantrelConstraints (its shape
// is documented in 010_catalogue.sql) and the triggers that enforce a foreign key added to an
// existing table.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace brisquel::schema {

// The message of every refusal by an emulated foreign key starts with this text, followed by
// " (" the constraint name ")"; the data layer reports it as native error 547.
inline constexpr std::string_view kForeignKeyFailed = "FOREIGN KEY constraint failed";

struct ForeignKey {
  std::string name;
  std::string table;                          // the referencing table
  std::vector<std::string> columns;           // in key order
  std::string referencedTable;
  std::vector<std::string> referencedColumns; // paired with columns by position
};

// The four triggers <name>_ChildInsert, _ChildUpdate, _ParentDelete and _ParentUpdate. A row is
// checked when it is written (a NULL in any key column is not checked); a parent row may go only
// while no referencing row is left without a parent row of the same key. Rows that were there
// before the triggers are not checked, as with "with nocheck".
std::string ForeignKeyTriggersSql(const ForeignKey& key);
std::string DropForeignKeyTriggersSql(std::string_view name);

// The foreign keys of the catalogue enforced by triggers, every one or those whose referencing or
// referenced table is the one given (compared without regard to case).
std::vector<ForeignKey> TriggerForeignKeys(sqlite3* db, std::string_view table = {});

// (Re)creates the triggers of those foreign keys, for instance after a table was rebuilt.
// A failure raises the library's failure (RaiseFailure) with SQLite's message.
void InstallTriggerForeignKeys(sqlite3* db, std::string_view table = {});

}  // namespace brisquel::schema

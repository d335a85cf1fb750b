// The lookup of code tables: the catalogue row (IssueCodeTables) as the readers build statements
// from it (the writers' side is configuration/code_table_writers.h): the names
// checked against the naming rule of code tables (a letter first, then letters, digits and
// underscores; tables at most 40 characters, columns 50) and quoted, the sort direction ASC or
// DESC. Tables that hold secrets are never taken for code tables. Every statement that names a
// code table takes the names from here, never from the catalogue text itself.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brisquel {

class Database;

struct QuotedCodeTable {
  std::string table;        // quoted
  std::string valueColumn;  // quoted
  std::string sortColumn;   // quoted, qualified when the catalogue qualifies it
  std::string direction;    // "ASC" or "DESC"
  bool variesByProject = false;
  bool naturalSort = false;
};

inline constexpr size_t kCodeTableNameLimit = 40;
inline constexpr size_t kCodeColumnNameLimit = 50;

// A letter first, then letters, digits and underscores (ASCII, either case).
bool FollowsNameRule(std::string_view name);
// A name SQL and SQLite keep for themselves: a keyword of SQLite's, rowid, oid, _rowid_ or one
// beginning with sqlite_ (any case). A new field, code table or value column may not take one.
bool IsReservedSqlName(std::string_view name);

// A catalogue row as catalogued: the table name and its value column already follow the naming
// rule (at most 40 and 50 characters); the sort column and direction are not checked here.
struct CodeTableRow {
  std::string table;        // TableName
  std::string valueColumn;  // TableFieldName
  std::string sortBy;       // TableSortByFieldName
  std::string direction;    // TableDefaultSortOrder
  std::string singular;     // TableFriendlyNameSingular
  bool variesByProject = false;
  bool naturalSort = false;
};

// The catalogue row of `tableName`, or none. A row whose table name or value column breaks the
// rule raises the library's contract error with a sentence naming the rule.
std::optional<CodeTableRow> FindCodeTableRow(Database& db, const std::string& tableName);

// Reads the catalogue row of `tableName` (GetIssueCodeTableRs). A table missing from the catalogue
// raises 3021; a row that breaks a rule raises the library's contract error with a sentence
// naming the rule.
QuotedCodeTable ReadCodeTable(Database& db, const std::string& userId, const std::string& tableName);

}  // namespace brisquel

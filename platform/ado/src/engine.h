// Internals shared by the layer's classes: running statement texts with a per-connection cache of
// prepared statements, the table catalogue the batch update needs, and the mapping between
// engine values and Variants.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ado/connection.h"
#include "ado/recordset.h"
#include "ado/types.h"
#include "automation/text.h"

namespace ado::detail {

// One statement of a command text, prepared once.
struct Piece {
  size_t offset = 0;  // in the (rewritten) text
  size_t tail = 0;    // where the next statement starts
  sqlite3_stmt* stmt = nullptr;  // nullptr: a statement we skip (SET NOCOUNT)
  MetaPtr meta;       // result columns (statements that return rows)
  int reprepared = 0; // the engine's count when meta was taken
  bool returnsRows = false;
  bool plainRead = false;  // SELECT, WITH or VALUES that changes nothing
  size_t rowsHint = 0;   // rows and text bytes of the last run, to size the next one's storage
  size_t bytesHint = 0;
};

struct TextEntry {
  std::string text;  // rewritten text
  std::vector<Piece> pieces;
  bool complete = false;  // every statement prepared
  bool inUse = false;
  void Finalize();
};

struct TableMeta {
  std::vector<std::string> columns;
  std::vector<std::string> key;  // primary key columns in key order
  bool hasRowid = true;
};

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace ado::detail

namespace ado {

struct Connection::Impl {
  sqlite3* db = nullptr;
  std::unordered_map<std::string, std::unique_ptr<detail::TextEntry>, detail::StringHash, std::equal_to<>> cache;
  std::map<std::string, detail::TableMeta> tables;  // key: lower-case "schema.table"
  int64_t tablesSchemaVersion = -1;
  sqlite3_stmt* schemaVersion = nullptr;

  void Clear();
  // The table's columns and key; refreshed when the schema changed.
  const detail::TableMeta& Table(const std::string& schema, const std::string& table);
  int64_t SchemaVersion();
};

}  // namespace ado

namespace ado::detail {

// Runs every statement of `text`. With `fetch`, the rows of the last statement that returns rows
// are collected into `result` (result.meta stays null when none returns rows). Engine errors go
// to the connection's Errors and are raised. Returns the rows changed (-1: none changed data).
int64_t Run(Connection& c, std::string_view text, const Params& params, bool fetch, ResultSet* result);
// The same, handing each row of the statements that return rows to `each` instead.
int64_t RunEach(Connection& c, std::string_view text, const Params& params, const RowCallback& each);

// Binds one value for a parameter, enforcing its declared size; `position` names it in errors.
void BindParam(Connection& c, sqlite3_stmt* st, int slot, const Param& p, int position);
// Binds a field value the way the column keeps it (dates as text, booleans as 0/1).
void BindValue(sqlite3_stmt* st, int slot, const automation::Variant& v);

// Field metadata of a prepared statement's result columns.
MetaPtr ColumnMeta(Connection& c, sqlite3_stmt* st);
// The field type, size and decoder for a declared column type ("varchar(50)", "bit", ...).
void ApplyDeclaredType(FieldInfo& f, std::string_view declType);
// Appends the value of column `col` of the current row.
void ReadInto(CellStore& out, sqlite3_stmt* st, int col, Decode d);
// A fabricated field of the given type (Fields.Append).
FieldInfo MakeField(const std::string& name, int32_t type, int32_t definedSize, int32_t attributes);
// Converts a value to the field's type (Null stays Null); raises &H80040E21 when it cannot, or
// when text is longer than the declared size.
automation::Variant Coerce(const FieldInfo& f, const automation::Variant& v);
// Fast parse of "YYYY-MM-DD[ HH:MM[:SS[.fff]]]"; falls back to the general date parser.
bool ParseDbDate(std::string_view s, automation::Date& out);

inline std::string QuoteIdent(std::string_view name) { return QuoteIdentifier(name); }
inline std::string Lower(std::string_view s) { return automation::LowerAscii(s); }
using automation::EqualsNoCase;

// Runs one statement without parameters or results (transaction control, savepoints).
void Exec(Connection& c, const char* sql);
// The same without telling the connection first (its own shared read transaction).
void ExecAsIs(Connection& c, const char* sql);

}  // namespace ado::detail

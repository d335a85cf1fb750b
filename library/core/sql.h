// The typed query layer the business code uses inside the library: rows are read straight off the
// held connection's prepared statements (the data layer's statement cache, parameter widths,
// authorizer and native error numbers), without building a recordset. Recordsets stay at the edge:
// the Get...Rs readers that callers receive and the write-back of a recordset a caller handed in.
//
//   db.Each("select UserId, Active from Users where ProjectId = ?", {ado::Param::Long(id)},
//           [&](const sql::Row& r) { names.push_back(r.Text("UserId")); });
//   std::optional<int32_t> n = db.One<int32_t>("select count(*) from Issues");
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace brisquel::sql {

// The current row of a statement. Columns are found by name without regard to case (or by
// position from 0); Null reads as "", 0 or false, or as an empty optional from the Opt readers.
class Row {
 public:
  explicit Row(sqlite3_stmt* st) : st_(st) {}

  int Index(std::string_view column) const;  // raises &H800A0CC1 for an unknown column
  bool IsNull(std::string_view column) const { return IsNull(Index(column)); }
  bool IsNull(int i) const { return sqlite3_column_type(st_, i) == SQLITE_NULL; }

  std::string Text(std::string_view column) const { return Text(Index(column)); }
  std::string Text(int i) const;
  int32_t Long(std::string_view column) const { return Long(Index(column)); }
  int32_t Long(int i) const { return sqlite3_column_int(st_, i); }
  int64_t Int64(std::string_view column) const { return Int64(Index(column)); }
  int64_t Int64(int i) const { return sqlite3_column_int64(st_, i); }
  double Double(std::string_view column) const { return Double(Index(column)); }
  double Double(int i) const { return sqlite3_column_double(st_, i); }
  // A bit column: non-zero is true.
  bool Flag(std::string_view column) const { return Flag(Index(column)); }
  bool Flag(int i) const { return sqlite3_column_int64(st_, i) != 0; }

  std::optional<std::string> OptText(std::string_view column) const;
  std::optional<int32_t> OptLong(std::string_view column) const;
  // A date column ("YYYY-MM-DD HH:MM:SS.SSS" text); Null, or text that is no date, gives nullopt.
  std::optional<automation::Date> OptDate(std::string_view column) const;
  // The column as a recordset reads it (by its declared type: a date column as a Date, a bit
  // column as a Boolean; Null as Null), for what must show values as a recordset shows them.
  automation::Variant Value(std::string_view column) const { return Value(Index(column)); }
  automation::Variant Value(int i) const;

  int Columns() const { return sqlite3_column_count(st_); }
  sqlite3_stmt* Statement() const { return st_; }

  // The first column read as T (std::string, int32_t, int64_t, double or bool).
  template <class T>
  T As(int i = 0) const;

 private:
  sqlite3_stmt* st_;
};

template <>
inline std::string Row::As<std::string>(int i) const { return Text(i); }
template <>
inline int32_t Row::As<int32_t>(int i) const { return Long(i); }
template <>
inline int64_t Row::As<int64_t>(int i) const { return Int64(i); }
template <>
inline double Row::As<double>(int i) const { return Double(i); }
template <>
inline bool Row::As<bool>(int i) const { return Flag(i); }

}  // namespace brisquel::sql

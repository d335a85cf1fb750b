// Pieces the run-time DDL operations share: statements on the connection, refusals with their
// native numbers, the operation's savepoint, the constraint catalogue, and the table rebuild.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ado/connection.h"
#include "automation/text.h"
#include "schema/constraints.h"

namespace brisquel::schema::ddl::detail {

std::string Quote(std::string_view name);
// A text literal in single quotes.
std::string Literal(std::string_view text);
using automation::EqualsNoCase;

void Exec(ado::Connection& c, const std::string& sql, const ado::Params& params = {});
std::vector<std::string> Texts(ado::Connection& c, const std::string& sql, const ado::Params& params = {});
ado::Param Name(std::string_view s);

// A DDL step the engine would refuse, raised as the engine would: the error first in the
// connection's Errors with its native number, then raised (not a writer's Refuse).
[[noreturn]] void RaiseDdlError(ado::Connection& c, int32_t native, std::string message,
                                int32_t number = static_cast<int32_t>(0x80040E14));

// One operation: all of it or nothing of it, inside whatever transaction the caller holds.
class Step {
 public:
  explicit Step(ado::Connection& c);
  ~Step();
  Step(const Step&) = delete;
  Step& operator=(const Step&) = delete;
  void Done();

 private:
  ado::Connection& c_;
  bool done_ = false;
};

// One row of VantrelConstraints.
struct Constraint {
  std::string name, table, type;
  std::vector<std::string> columns;
  std::string referencedTable;
  std::vector<std::string> referencedColumns;
  std::string definition, enforcement;
};
std::vector<Constraint> Constraints(ado::Connection& c, std::string_view where, const ado::Params& params = {});
void InsertConstraint(ado::Connection& c, const Constraint& k);
std::string JoinColumns(const std::vector<std::string>& columns);
bool Holds(const std::vector<std::string>& columns, std::string_view column);

// The table's columns as declared (their names).
std::vector<std::string> ColumnNames(ado::Connection& c, std::string_view table);
// The table's name as the schema spells it; refuses with 3701 (or `native`) when missing.
std::string RequireTable(ado::Connection& c, std::string_view table, int32_t native = 3701);
// The column's name as declared; refuses with 207 when missing.
std::string RequireColumn(ado::Connection& c, std::string_view table, std::string_view column);
void RequireFreeName(ado::Connection& c, std::string_view name);

// Rewrites the declaration of one column (the text after its name up to the next top-level
// comma); returns false when the column is not found. The table is then rebuilt with it.
using ColumnEdit = std::function<std::string(const std::string& definition)>;
void RebuildWithColumn(ado::Connection& c, const std::string& table, const std::string& column,
                       const ColumnEdit& edit);

// Column declarations: "VARCHAR(50)" given another width, a DEFAULT clause taken out.
std::string WithWidth(const std::string& definition, int32_t width, bool& found);
std::string WithoutDefault(const std::string& definition, bool& found);

}  // namespace brisquel::schema::ddl::detail

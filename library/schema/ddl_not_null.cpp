// The nullability change of a column: the width change's rebuild with the declaration edited.
#include <regex>

#include "schema/ddl.h"
#include "schema/ddl_internal.h"

namespace brisquel::schema::ddl {

namespace {

// The declaration after the column's name, with the type given its width, a NULL (but not a NOT
// NULL) taken out and NOT NULL put right after the type.
std::string WithNotNull(const std::string& definition, int32_t width, bool& found) {
  std::string typed = detail::WithWidth(definition, width, found);
  if (!found) return definition;
  static const std::regex notNull(R"(\bNOT\s+NULL\b)", std::regex::icase);
  if (std::regex_search(typed, notNull)) return typed;
  static const std::regex null(R"(\s+NULL\b)", std::regex::icase);
  std::string rest = std::regex_replace(typed, null, "", std::regex_constants::format_first_only);
  static const std::regex type(R"(^\s*N?VARCHAR\s*\(\s*\d+\s*\))", std::regex::icase);
  std::smatch m;
  std::regex_search(rest, m, type);
  return m.str() + " NOT NULL" + m.suffix().str();
}

}  // namespace

void SetColumnNotNull(ado::Connection& c, std::string_view tableName, std::string_view columnName, int32_t width) {
  detail::Step step(c);
  const std::string table = detail::RequireTable(c, tableName);
  const std::string column = detail::RequireColumn(c, table, columnName);
  detail::RebuildWithColumn(c, table, column, [&](const std::string& definition) {
    bool found = false;
    std::string edited = WithNotNull(definition, width, found);
    if (!found)
      detail::RaiseDdlError(c, kColumnDependency,
                            "The column '" + column + "' of table '" + table + "' is not a VARCHAR column.");
    return edited;
  });
  step.Done();
}

}  // namespace brisquel::schema::ddl

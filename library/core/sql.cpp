#include "core/sql.h"

#include "ado/connection.h"
#include "ado/errors.h"
#include "automation/text.h"
#include "automation/vbdate.h"

namespace brisquel::sql {

int Row::Index(std::string_view column) const {
  int n = sqlite3_column_count(st_);
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st_, i);
    if (name && automation::EqualsNoCase(name, column)) return i;
  }
  ado::Raise(ado::err::kItemNotFound, "ADODB.Fields", "Item '" + std::string(column) + "' cannot be found.");
}

std::string Row::Text(int i) const {
  const unsigned char* p = sqlite3_column_text(st_, i);
  if (!p) return {};
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(st_, i)));
}

std::optional<std::string> Row::OptText(std::string_view column) const {
  int i = Index(column);
  if (IsNull(i)) return std::nullopt;
  return Text(i);
}

std::optional<int32_t> Row::OptLong(std::string_view column) const {
  int i = Index(column);
  if (IsNull(i)) return std::nullopt;
  return Long(i);
}

automation::Variant Row::Value(int i) const { return ado::ColumnValue(st_, i); }

std::optional<automation::Date> Row::OptDate(std::string_view column) const {
  int i = Index(column);
  if (IsNull(i)) return std::nullopt;
  return automation::ParseDate(Text(i));
}

}  // namespace brisquel::sql

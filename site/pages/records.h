// Reading the recordsets the library hands a page, by name as every caller does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"

namespace site {

using RecordsetObject = std::shared_ptr<automation::Object>;

inline bool AtEnd(automation::Object& rs) { return rs.Get("EOF").ToBool(); }

inline automation::Variant FieldValue(automation::Object& rs, std::string_view name) {
  return rs.Get("Fields", {automation::Variant(std::string(name))}).ToObject()->Get("Value");
}

// Null reads as "".
inline std::string FieldText(automation::Object& rs, std::string_view name) { return FieldValue(rs, name).ToText(); }

// A whole number of a query or form value; nothing for any other text.
std::optional<int32_t> WholeNumber(std::string_view text);

class PageContext;
// The query value `name` as a whole number, else `fallback`.
int32_t QueryNumber(PageContext& page, std::string_view name, int32_t fallback);

}  // namespace site

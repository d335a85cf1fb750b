// Reading the recordsets the library hands a page, by name as every caller does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "automation/text.h"

namespace site {

using RecordsetObject = std::shared_ptr<automation::Object>;

inline bool AtEnd(automation::Object& rs) { return rs.Get("EOF").ToBool(); }

// A reader's answer that holds rows: some readers answer Nothing or a closed recordset.
inline bool IsOpen(const RecordsetObject& rs) { return rs && rs->Get("State").ToLong() != 0; }

// Calls fn(rs) for the current row and every row after it; Nothing has no rows.
template <class F>
void EachRecord(automation::Object& rs, F&& fn) {
  for (; !AtEnd(rs); rs.Call("MoveNext")) fn(rs);
}
template <class F>
void EachRecord(const RecordsetObject& rs, F&& fn) {
  if (rs) EachRecord(*rs, fn);
}

// The record a page looks up by a key from the query (`read` asks the reader): Nothing when the
// key is longer than the stored keys are (`width` characters; the reader's parameter would refuse
// it) or when the reader finds no row. The page answers 404 for both.
template <class F>
RecordsetObject LookUp(std::string_view key, size_t width, F&& read) {
  if (automation::CharLength(key) > width) return nullptr;
  RecordsetObject rs = read();
  return rs && !AtEnd(*rs) ? rs : nullptr;
}

inline automation::Variant FieldValue(automation::Object& rs, std::string_view name) {
  return rs.Get("Fields", {automation::Variant(std::string(name))}).ToObject()->Get("Value");
}
// The value of the field at `index` (0: the first), for readers whose first column has no fixed name.
inline automation::Variant FieldValueAt(automation::Object& rs, int32_t index) {
  return rs.Get("Fields", {automation::Variant(index)}).ToObject()->Get("Value");
}

// Null reads as "", `ifNull` (0), 0.0 and False.
inline std::string FieldText(automation::Object& rs, std::string_view name) { return FieldValue(rs, name).ToText(); }
inline int32_t FieldLong(automation::Object& rs, std::string_view name, int32_t ifNull = 0) {
  const automation::Variant v = FieldValue(rs, name);
  return v.IsNull() || v.IsEmpty() ? ifNull : v.ToLong();
}
inline double FieldDouble(automation::Object& rs, std::string_view name) {
  const automation::Variant v = FieldValue(rs, name);
  return v.IsNull() ? 0.0 : v.ToDouble();
}
inline bool FieldFlag(automation::Object& rs, std::string_view name) {
  const automation::Variant v = FieldValue(rs, name);
  return !v.IsNull() && v.ToBool();
}

// Whether the recordset has a field of that name (any letter case).
inline bool HasField(automation::Object& rs, std::string_view name) {
  const std::shared_ptr<automation::Object> fields = rs.Get("Fields").ToObject();
  const int32_t count = fields->Get("Count").ToLong();
  for (int32_t i = 0; i < count; ++i)
    if (automation::EqualsNoCase(fields->Get("Item", {automation::Variant(i)}).ToObject()->Get("Name").ToString(), name))
      return true;
  return false;
}

// A whole number of a query or form value; nothing for any other text.
std::optional<int32_t> WholeNumber(std::string_view text);

class PageContext;
// The query value `name` as a whole number, else `fallback`.
int32_t QueryNumber(PageContext& page, std::string_view name, int32_t fallback);

}  // namespace site

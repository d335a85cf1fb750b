#include "automation/text.h"
#include "core/recordset_persistence.h"

#include <algorithm>
#include <cctype>

#include "core/conversions.h"
#include "core/error_protocol.h"

namespace brisquel {

using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

std::vector<uint8_t> Image(Database& db, ado::Recordset& rs) { return rs.SaveImage(db.Connection().SiteSecret()); }

std::shared_ptr<ado::Recordset> FromImage(Database& db, const uint8_t* data, size_t size) {
  // Opened detached and on its first row (when it has one).
  return ado::Recordset::OpenImage(data, size, db.Connection().SiteSecret());
}


}  // namespace

std::string RsToString(Database& db, const std::shared_ptr<ado::Recordset>& v) {
  return Procedure(kClass, "rsToString", [&]() -> std::string {
    if (!v) return {};
    std::vector<uint8_t> bytes = Image(db, *v);
    return std::string(bytes.begin(), bytes.end());
  });
}

std::shared_ptr<ado::Recordset> RsFromString(Database& db, const std::string& s) {
  return Procedure(kClass, "rsFromString", [&]() -> std::shared_ptr<ado::Recordset> {
    if (s.empty()) return nullptr;
    return FromImage(db, reinterpret_cast<const uint8_t*>(s.data()), s.size());
  });
}

std::string RsToXml(Database& db, const std::shared_ptr<ado::Recordset>& v) {
  return Procedure(kClass, "rsToXml", [&]() -> std::string {
    if (!v) return {};
    return EncodeByteArray(Image(db, *v));
  });
}

std::shared_ptr<ado::Recordset> RsFromXml(Database& db, const std::string& s) {
  return Procedure(kClass, "rsFromXml", [&]() -> std::shared_ptr<ado::Recordset> {
    if (s.empty()) return nullptr;
    std::vector<uint8_t> bytes = DecodeByteArray(s);
    return FromImage(db, bytes.data(), bytes.size());
  });
}

bool RecordsetHolds(const ado::Recordset& rs, std::string_view table, const std::vector<std::string>& key) {
  auto tables = rs.BaseTables();
  if (tables.size() != 1 || !EqualsNoCase(tables.front(), table)) return false;
  auto held = rs.KeyColumns(table);
  if (held.size() != key.size()) return false;
  for (const auto& k : key)
    if (std::none_of(held.begin(), held.end(), [&](const std::string& h) { return EqualsNoCase(h, k); })) return false;
  return true;
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("rsToString", &RsToString);
  c.Method("rsFromString", &RsFromString);
  c.Method("rsToXml", &RsToXml);
  c.Method("rsFromXml", &RsFromXml);
});

}  // namespace

}  // namespace brisquel

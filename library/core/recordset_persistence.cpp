#include "automation/text.h"
#include "core/recordset_persistence.h"

#include <algorithm>
#include <cctype>

#include "automation/input_fault.h"
#include "core/conversions.h"
#include "core/error_protocol.h"

namespace brisquel {

using automation::EqualsNoCase;

namespace {

constexpr std::string_view kClass = "Database";

std::vector<uint8_t> Image(Database& db, ado::Recordset& rs) { return rs.SaveImage(db.Connection().SiteSecret()); }

constexpr std::string_view kDamaged = "The recordset image is damaged or was not made by this site.";

// Opened detached and on its first row (when it has one). An image that is not one of ours came
// from outside (a page's hidden field): logged once here, as a warning, by `procedure`.
std::shared_ptr<ado::Recordset> FromImage(Database& db, const uint8_t* data, size_t size, std::string_view procedure) {
  try {
    return ado::Recordset::OpenImage(data, size, db.Connection().SiteSecret());
  } catch (const automation::InputFault& e) {
    LogInputFault(kClass, procedure, e.description);
    throw;
  }
}

// Whether every backslash of an escaped text starts a two-digit hexadecimal escape.
bool WellEscaped(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') continue;
    if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
      return false;
    i += 2;
  }
  return true;
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
    return FromImage(db, reinterpret_cast<const uint8_t*>(s.data()), s.size(), "rsFromString");
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
    if (!WellEscaped(s)) RaiseInputFault(kClass, "rsFromXml", automation::vberr::kFail, std::string(kDamaged));
    std::vector<uint8_t> bytes = DecodeByteArray(s);
    return FromImage(db, bytes.data(), bytes.size(), "rsFromXml");
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

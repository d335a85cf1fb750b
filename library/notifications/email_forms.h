// Small helpers shared by the e-mail configuration, rule and template writers: posted values,
// the recordsets the pages hand back, and the failure sentences of a trapped write.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/multipart.h"

namespace brisquel::mailforms {

inline constexpr const char* kConflict =
    "Another session has changed this information. You must cancel your changes.";
inline constexpr const char* kPermissionDenied = "Permission denied.";

// Leading and trailing blanks off, as the pages' posted values are taken.
inline std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

// The posted values of a writer's form; a missing form is the caller's fault.
inline const FormFields& Fields(const std::shared_ptr<MultipartFormData>& form, std::string_view method) {
  if (!form) ThrowError("Database", method, "FormData is Nothing.");
  return *form->Fields();
}

// A posted value, trimmed; "" when not posted.
inline std::string Field(const FormFields& f, std::string_view name) { return Trim(f.Text(name)); }

// A recordset handed back by a page must be open and hold the table the writer takes back.
inline ado::Recordset& Rows(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                            std::string_view method) {
  if (!rs || rs->State() != ado::adStateOpen) ThrowError("Database", method, "The recordset is not open.");
  for (const std::string& t : rs->BaseTables())
    if (EqualsNoCase(t, table)) return *rs;
  ThrowError("Database", method, "The recordset does not hold " + std::string(table) + " rows.");
}

// The sentence of a failed write: the conflict sentence for a row changed since it was read,
// otherwise the connection's unexpected-error report.
inline std::string WriteFailure(Database& db, const automation::LastError& e) {
  return db.IsConflict() ? std::string(kConflict) : db.UnexpectedReport(e);
}

}  // namespace brisquel::mailforms

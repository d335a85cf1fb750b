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
#include "core/writer.h"

namespace brisquel::mailforms {

inline constexpr const char* kConflict =
    "Another session has changed this information. You must cancel your changes.";
using brisquel::kPermissionDenied;

using brisquel::Trim;

// The posted values of a writer's form; a missing form is the caller's fault.
inline const FormFields& Fields(const std::shared_ptr<MultipartFormData>& form, std::string_view method) {
  return PostedFields(form, method);
}

// A posted value, trimmed; "" when not posted.
inline std::string Field(const FormFields& f, std::string_view name) { return PostedText(f, name); }

inline ado::Recordset& Rows(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                            std::string_view method) {
  return HeldRows(rs, table, method);
}

inline std::string WriteFailure(Database& db, const automation::LastError& e) {
  return brisquel::WriteFailure(db, e, kConflict);
}

}  // namespace brisquel::mailforms

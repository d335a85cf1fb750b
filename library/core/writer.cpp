#include "core/writer.h"

#include "automation/text.h"

namespace brisquel {

const FormFields& PostedFields(const std::shared_ptr<MultipartFormData>& form, std::string_view method,
                               std::string_view className) {
  if (!form) ThrowError(className, method, "FormData is Nothing.");
  return *form->Fields();
}

std::string PostedText(const FormFields& f, std::string_view name) { return std::string(TrimSpaces(f.Text(name))); }

bool PostedOn(const FormFields& f, std::string_view name) {
  const FormFields::Field* field = f.Find(name);
  return field && field->values.size() == 1 && automation::EqualsNoCase(TrimSpaces(field->values[0]), "on");
}

std::vector<std::string> PostedList(const FormFields& f, std::string_view name) {
  std::vector<std::string> out;
  for (const std::string& v : f.Values(name))
    if (!v.empty()) out.push_back(v);
  return out;
}

ado::Recordset& HeldRows(const std::shared_ptr<ado::Recordset>& rs, std::string_view table, std::string_view method,
                         std::string_view className) {
  if (!rs || rs->State() != ado::adStateOpen) ThrowError(className, method, "The recordset is not open.");
  for (const std::string& t : rs->BaseTables())
    if (automation::EqualsNoCase(t, table)) return *rs;
  ThrowError(className, method, "The recordset does not hold " + std::string(table) + " rows.");
}

ado::Recordset& HeldFirstRow(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                             std::string_view method, std::string_view className) {
  ado::Recordset& held = HeldRows(rs, table, method, className);
  if (!held.IsBOF()) held.MoveFirst();
  return held;
}

std::string WriteFailure(Database& db, const automation::LastError& e, std::string_view conflict) {
  return !conflict.empty() && db.IsConflict() ? std::string(conflict) : db.UnexpectedReport(e);
}

std::string DuplicateFailure(Database& db, const automation::LastError& e, std::string_view duplicate) {
  return db.FirstError().nativeError == ado::native::kDuplicateKey ? std::string(duplicate) : db.UnexpectedReport(e);
}

std::string ReferenceFailure(Database& db, const automation::LastError& e, std::string_view referenced) {
  return db.FirstError().nativeError == ado::native::kReference ? std::string(referenced) : db.UnexpectedReport(e);
}

}  // namespace brisquel

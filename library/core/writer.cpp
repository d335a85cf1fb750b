#include "core/writer.h"

#include "automation/text.h"
#include "core/conversions.h"

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

void RequireKeyLength(const std::string& key, std::string_view what, size_t limit) {
  if (automation::CharLength(key) <= limit) return;
  std::string field(what);
  if (!field.empty() && field[0] >= 'a' && field[0] <= 'z') field[0] = static_cast<char>(field[0] - 32);
  Refuse(LengthSentence(field, limit));
}

std::string PostedKey(const std::string& posted, std::string_view what, size_t limit) {
  std::optional<std::string> key = UrlDecoded(posted);
  if (!key) Refuse("The " + std::string(what) + " '" + posted + "' is not correctly URL-encoded.");
  RequireKeyLength(*key, what, limit);
  return std::move(*key);
}

std::vector<std::string> PostedKeys(const FormFields& f, std::string_view name, std::string_view what, size_t limit) {
  std::vector<std::string> out;
  for (const std::string& posted : PostedList(f, name)) out.push_back(PostedKey(posted, what, limit));
  return out;
}

int32_t PostedId(const std::string& posted, std::string_view what) {
  std::optional<int32_t> id = DecimalId(posted);
  if (!id) Refuse("The " + std::string(what) + " '" + posted + "' is not a valid number.");
  return *id;
}

std::vector<int32_t> PostedIds(const FormFields& f, std::string_view name, std::string_view what) {
  std::vector<int32_t> out;
  for (const std::string& posted : PostedList(f, name)) out.push_back(PostedId(posted, what));
  return out;
}

ado::Recordset& HeldRows(const std::shared_ptr<ado::Recordset>& rs, std::string_view table, std::string_view method,
                         std::string_view className) {
  if (!rs || rs->State() != ado::adStateOpen) ThrowError(className, method, "The recordset is not open.");
  for (const std::string& t : rs->BaseTables())
    if (automation::EqualsNoCase(t, table)) return *rs;
  ThrowInputFault(className, method, "The recordset does not hold " + std::string(table) + " rows.");
}

ado::Recordset& HeldFirstRow(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                             std::string_view method, std::string_view className) {
  ado::Recordset& held = HeldRows(rs, table, method, className);
  if (!held.IsBOF()) held.MoveFirst();
  return held;
}

std::string LengthSentence(std::string_view field, size_t limit) {
  return std::string(field) + " cannot be longer than " + std::to_string(limit) + " characters.";
}

void CheckLength(std::string_view value, size_t limit, std::string_view field) {
  if (automation::CharLength(value) > limit) Refuse(LengthSentence(field, limit));
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

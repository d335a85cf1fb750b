// How a writer is written. It reads its posted form once into a plain struct, checks it, then
// writes through the typed layer (core/sql.h) inside a Database::Transaction. An expected refusal
// is thrown as a Refusal (or returned with db.Fail) and reaches the caller as LastErrorMessage +
// False; anything else leaves through the error protocol as a ComError with its source chain. The
// transaction guard has rolled back before either leaves the writer.
//
//   bool CreateGroup(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> form) {
//     return Writer(db, "Database", "CreateGroup", [&] {
//       const FormFields& f = PostedFields(form, "CreateGroup");
//       GroupForm g{PostedText(f, "GroupCode")};
//       if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
//       Database::Transaction tx(db);
//       db.Exec("insert into Groups (GroupCode) values (?)", {ado::Param::Text(g.code, 50)});
//       tx.Commit();
//       return true;
//     });
//   }
#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado/ado.h"
#include "brisquel/constants.h"
#include "automation/text.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/multipart.h"

namespace brisquel {

// An expected refusal: the sentence the caller reads in LastErrorMessage.
struct Refusal {
  std::string sentence;
};
[[noreturn]] inline void Refuse(std::string sentence) { throw Refusal{std::move(sentence)}; }

// Runs a writer body (returning bool) under the error protocol; LastErrorMessage is cleared first
// and a Refusal becomes LastErrorMessage + False.
template <class F>
bool Writer(Database& db, std::string_view className, std::string_view procedure, F&& body) {
  return Procedure(className, procedure, [&]() -> bool {
    db.SetLastErrorMessage("");
    try {
      return body();
    } catch (const Refusal& r) {
      return db.Fail(r.sentence);
    }
  });
}

// The same for a writer that answers a value (a new id): a Refusal gives `refused`.
template <class T, class F>
T Writer(Database& db, std::string_view className, std::string_view procedure, T refused, F&& body) {
  return Procedure(className, procedure, [&]() -> T {
    db.SetLastErrorMessage("");
    try {
      return body();
    } catch (const Refusal& r) {
      db.Fail(r.sentence);
      return refused;
    }
  });
}

// The sentence of a failed write: `conflict` (when not "") for a row changed since it was read,
// otherwise the connection's unexpected-error report.
std::string WriteFailure(Database& db, const automation::LastError& e, std::string_view conflict);
// The sentence of a failed insert or rename: `duplicate` when a unique key refused the row, otherwise
// the connection's unexpected-error report.
std::string DuplicateFailure(Database& db, const automation::LastError& e, std::string_view duplicate);
// The sentence of a failed delete: `referenced` when a foreign key still points at the row,
// otherwise the connection's unexpected-error report.
std::string ReferenceFailure(Database& db, const automation::LastError& e, std::string_view referenced);

// One step of a writer (statements, a write-back), trapped: when an error leaves `body`, the writer
// is refused with the sentence `failure(error)` gives, read while the connection still holds the
// error; the transaction guard then rolls back as the Refusal leaves the writer.
template <class F, class S>
  requires std::invocable<S&, const automation::LastError&>
void WriteStep(Database& db, F&& body, S&& failure) {
  if (std::optional<automation::LastError> e = db.Trap(std::forward<F>(body))) Refuse(failure(*e));
}
// The same, refused with WriteFailure: `conflict` (when given) for a row changed since it was read,
// otherwise the connection's unexpected-error report.
template <class F>
void WriteStep(Database& db, F&& body, std::string_view conflict = {}) {
  WriteStep(db, std::forward<F>(body), [&](const automation::LastError& e) { return WriteFailure(db, e, conflict); });
}

// A text for a column of declared width is checked before anything is written: a longer one is
// refused with the sentence every form gives, "<field> cannot be longer than <limit> characters."
std::string LengthSentence(std::string_view field, size_t limit);
void CheckLength(std::string_view value, size_t limit, std::string_view field);

// Posted values are taken with leading and trailing spaces off (only spaces).
using automation::TrimSpaces;

// The posted values of a writer's form; a missing form is the caller's fault (&H80040001).
const FormFields& PostedFields(const std::shared_ptr<MultipartFormData>& form, std::string_view method,
                               std::string_view className = "Database");
// A posted value, trimmed; "" when not posted.
std::string PostedText(const FormFields& f, std::string_view name);
// A check box: ticked when its posted value is "on" in any letter case.
bool PostedOn(const FormFields& f, std::string_view name);
// The values of a posted list (not posted, one value, or several under one name), in order,
// empty values skipped; a value is never split.
std::vector<std::string> PostedList(const FormFields& f, std::string_view name);

// The keys a list page posts URL-encoded (user ids, names), decoded. A value that is no valid
// encoding, or longer than `limit` characters once decoded, refuses the whole form with a
// sentence naming `what` ("user id"), before anything is written.
std::string PostedKey(const std::string& posted, std::string_view what, size_t limit);
std::vector<std::string> PostedKeys(const FormFields& f, std::string_view name, std::string_view what, size_t limit);
// A key posted as it is stored (not encoded by its page): at most `limit` characters.
void RequireKeyLength(const std::string& key, std::string_view what, size_t limit);
// The ids a list page posts in decimal: anything but a whole number in range refuses the form.
int32_t PostedId(const std::string& posted, std::string_view what);
std::vector<int32_t> PostedIds(const FormFields& f, std::string_view name, std::string_view what);

// A recordset handed back by a page must be open and hold rows of the table the writer takes back;
// otherwise the caller's error (&H80040001), rows of another table as its input (ThrowInputFault).
ado::Recordset& HeldRows(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                         std::string_view method, std::string_view className = "Database");

// A handed-back recordset as HeldRows takes it, at its first row when it holds any.
ado::Recordset& HeldFirstRow(const std::shared_ptr<ado::Recordset>& rs, std::string_view table,
                             std::string_view method, std::string_view className = "Database");

}  // namespace brisquel

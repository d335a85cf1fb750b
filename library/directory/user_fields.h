// The field rules the user writers share (creation, update, personal information): the posted
// account fields read once, their checks in order with their sentences, and the statements that
// keep a user's secrets (hashes) outside the recordsets the pages hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ado/ado.h"
#include "core/database.h"
#include "core/multipart.h"

namespace brisquel::directory {

// User ids are bound at their real width (50), group codes at theirs (20); the default filter
// ("s:" and the id) at the column's 100.
inline constexpr int32_t kUserIdSize = 50;
inline constexpr int32_t kGroupCodeSize = 20;
inline constexpr int32_t kDefaultFilterSize = 100;

inline ado::Param UserIdParam(const std::string& id) { return ado::Param::Text(id, kUserIdSize); }
inline ado::Param GroupParam(const std::string& code) { return ado::Param::Text(code, kGroupCodeSize); }

// The account fields of a user form, trimmed (the passwords as typed, trimmed too).
struct AccountForm {
  std::string name, email, password1, password2, question, answer;
  bool publicUser = false, siteAdministrator = false, emailEnabled = false;
};

AccountForm ReadAccount(const FormFields& f);

// Each check raises its sentence as a Refusal.
void CheckName(const AccountForm& a);           // blank, longer than 50
void CheckEMail(const AccountForm& a);          // longer than 50
// The two entries must be equal exactly (logins compare exactly); at most 20 characters.
void CheckPassword(const AccountForm& a);
void CheckQuestionLengths(const AccountForm& a);  // question, then answer: longer than 50
void CheckAnswerNeedsQuestion(const AccountForm& a);

// The ticked groups of a form (GroupCode), decoded one by one, each kept once (the first letter
// case wins), blank values dropped.
std::vector<std::string> TickedGroups(const FormFields& f);

// The rows every new user starts with: the 'Default' layout with the fields of row 1 that exist
// (DisplayOrder without gaps) and Summary in row 2.
void InsertDefaultLayout(Database& db, const std::string& userId);

// What happens to a stored secret on an update: a new hash, cleared, or left alone.
struct SecretChange {
  enum Kind { Keep, Set, Clear } kind = Keep;
  std::string hash;
};
// A blank password keeps the stored hash.
SecretChange PasswordChange(const std::string& typed);
// A blank answer keeps the stored hash unless the question is blank too (both cleared).
SecretChange AnswerChange(const std::string& question, const std::string& answer);

// Writes the secrets of the row `rs` holds (Users, read by GetUserRs) and then the recordset
// itself, in the caller's transaction. The secret statements match the row version the recordset
// carries and leave it as it was, so the write-back that follows is the one that detects a
// conflict and reads the new version back: the page's recordset stays current.
void WriteUserRow(Database& db, ado::Recordset& rs, const SecretChange& password, const SecretChange& answer);

}  // namespace brisquel::directory

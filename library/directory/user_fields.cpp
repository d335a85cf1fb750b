#include "directory/user_fields.h"

#include "automation/text.h"
#include "core/password.h"
#include "core/writer.h"

namespace brisquel::directory {

using ado::Param;

AccountForm ReadAccount(const FormFields& f) {
  AccountForm a;
  a.name = PostedText(f, "UserName");
  a.email = PostedText(f, "UserEMail");
  a.publicUser = PostedOn(f, "PublicUser");
  a.siteAdministrator = PostedOn(f, "SiteAdministrator");
  a.password1 = PostedText(f, "Password1");
  a.password2 = PostedText(f, "Password2");
  a.emailEnabled = PostedOn(f, "EMailEnabled");
  a.question = PostedText(f, "SecretQuestion");
  a.answer = PostedText(f, "SecretQuestionAnswer");
  return a;
}

void CheckName(const AccountForm& a) {
  if (a.name.empty()) Refuse("Name cannot be blank.");
  CheckLength(a.name, 50, "Name");
}

void CheckEMail(const AccountForm& a) {
  CheckLength(a.email, 50, "E-Mail");
}

void CheckPassword(const AccountForm& a) {
  if (a.password1 != a.password2) Refuse("Passwords do not match.");
  CheckLength(a.password1, 20, "Password");
}

void CheckQuestionLengths(const AccountForm& a) {
  CheckLength(a.question, 50, "Secret question");
  CheckLength(a.answer, 50, "Answer to the secret question");
}

void CheckAnswerNeedsQuestion(const AccountForm& a) {
  if (a.question.empty() && !a.answer.empty())
    Refuse("The secret question cannot be blank if an answer is provided.");
}

std::vector<std::string> TickedGroups(const FormFields& f) {
  std::vector<std::string> out;
  for (std::string& code : PostedKeys(f, "GroupCode", "group", kGroupCodeSize)) {
    if (TrimSpaces(code).empty()) continue;
    bool seen = false;
    for (const std::string& kept : out) seen = seen || automation::EqualsNoCase(kept, code);
    if (!seen) out.push_back(std::move(code));
  }
  return out;
}

void InsertDefaultLayout(Database& db, const std::string& userId) {
  static constexpr const char* kRowOne[] = {"IssueId",      "PriorityCode",   "SeverityCode",   "ProjectCode",
                                            "ModuleCode",   "ResolutionCode", "AssignedToUser", "StatusCode"};
  constexpr std::string_view kField =
      "insert into SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, FieldName) "
      "values (?, 'Default', ?, ?, ?)";
  auto exists = [&](const char* name) {
    return db.Exists("select FieldName from IssueFields where FieldName = ?", {Param::Text(name, 50)});
  };
  db.Exec("insert into SummaryLayouts (UserId, LayoutName, NumRows) values (?, 'Default', 2)", {UserIdParam(userId)});
  int32_t order = 1;
  for (const char* name : kRowOne) {
    if (!exists(name)) continue;
    // A field the layout cannot take is left out; the next one takes its place.
    if (!db.Trap([&] {
          db.Exec(kField, {UserIdParam(userId), Param::Long(1), Param::Long(order), Param::Text(name, 50)});
        }))
      ++order;
  }
  if (exists("Summary"))
    db.Trap([&] {
      db.Exec(kField, {UserIdParam(userId), Param::Long(2), Param::Long(1), Param::Text("Summary", 50)});
    });
}

SecretChange PasswordChange(const std::string& typed) {
  if (typed.empty()) return {};
  return {SecretChange::Set, HashSecret(typed)};
}

SecretChange AnswerChange(const std::string& question, const std::string& answer) {
  if (!answer.empty()) return {SecretChange::Set, HashSecret(answer)};
  if (question.empty()) return {SecretChange::Clear, ""};
  return {};
}

void WriteUserRow(Database& db, ado::Recordset& rs, const SecretChange& password, const SecretChange& answer) {
  std::string set;
  ado::Params params;
  auto add = [&](const char* column, const SecretChange& c) {
    if (c.kind == SecretChange::Keep) return;
    set += std::string(column) + " = ?, ";
    params.push_back(Param::Text(c.hash, 128));
  };
  add("Password", password);
  add("SecretQuestionAnswer", answer);
  if (!set.empty()) {
    const std::string userId = rs.Value("UserId").ToString();
    const automation::Variant version = rs.OriginalValue(rs.FieldIndex("LastUpdated"));
    params.push_back(UserIdParam(userId));
    params.push_back(Param::Long(version));
    // The row-version trigger leaves alone a statement that changes LastUpdated itself: the
    // version is turned to -1 - v and back, so it ends where the recordset has it.
    db.Exec("update Users set " + set + "LastUpdated = -1 - LastUpdated where UserId = ? and LastUpdated = ?",
            params);
    db.Exec("update Users set LastUpdated = -1 - LastUpdated where UserId = ? and LastUpdated = -1 - ?",
            {UserIdParam(userId), Param::Long(version)});
  }
  db.WriteBack(rs);
}

}  // namespace brisquel::directory

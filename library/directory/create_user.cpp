// Creating users: the administrator's CreateUser and the visitor's sign-up CreatePublicUser.
// Both check the posted fields in order, then write the Users row, the memberships (CreateUser)
// and the 'Default' layout in one transaction. Passwords and answers are stored as hashes; a user
// created without a password cannot log in until one is set.
#include <functional>
#include <memory>
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/password.h"
#include "core/writer.h"
#include "directory/directory.h"
#include "directory/user_fields.h"
#include "schema/site_database.h"

namespace brisquel {

using ado::Param;
using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";

void CheckId(const std::string& id) {
  if (std::string problem = schema::CheckUserId(id); !problem.empty()) Refuse(problem);
}

std::string HashOrNone(const std::string& secret) { return secret.empty() ? std::string() : HashSecret(secret); }

// A guarded insert: a duplicate key is the existing user, anything else the unexpected report.
void Guarded(Database& db, const std::string& userId, const std::function<void()>& insert) {
  WriteStep(db, insert, [&](const automation::LastError& e) {
    return DuplicateFailure(db, e, "The user id '" + userId + "' already exists.");
  });
}

struct NewUser {
  std::string id;
  AccountForm account;
  bool siteAdministrator = false;  // honoured only for a site administrator submitting
  // Hashed before the transaction begins, so the write lock is not held while hashing.
  std::string passwordHash, answerHash;
  void Hash() {
    passwordHash = HashOrNone(account.password1);
    answerHash = HashOrNone(account.answer);
  }
};

// The id and account fields of a new user, with the checks both sign-ups share.
NewUser ReadNewUser(const FormFields& f) {
  NewUser u;
  u.id = PostedText(f, "UserId");
  u.account = ReadAccount(f);
  CheckId(u.id);
  CheckName(u.account);
  CheckEMail(u.account);
  return u;
}

void InsertUser(Database& db, const NewUser& u, bool publicSignUp) {
  const AccountForm& a = u.account;
  ado::Params params = {UserIdParam(u.id), Param::Text(a.name, 50), Param::Text(a.email, 50)};
  if (publicSignUp) {
    params.push_back(Param::Text(u.passwordHash, 128));
    params.push_back(Param::Text("s:" + u.id, kDefaultFilterSize));
    params.push_back(Param::Text(a.question, 50));
    params.push_back(Param::Text(u.answerHash, 128));
    db.Exec(
        "insert into Users (UserId, UserName, UserEMail, SiteAdministrator, PublicUser, Password, DefaultFilter, "
        "SecretQuestion, SecretQuestionAnswer) values (?, ?, ?, 0, 1, ?, ?, ?, ?)",
        params);
    return;
  }
  params.push_back(Param::Bool(u.siteAdministrator));
  params.push_back(Param::Bool(a.publicUser));
  params.push_back(Param::Text(u.passwordHash, 128));
  params.push_back(Param::Bool(a.emailEnabled));
  params.push_back(Param::Text("s:" + u.id, kDefaultFilterSize));
  params.push_back(Param::Text(a.question, 50));
  params.push_back(Param::Text(u.answerHash, 128));
  db.Exec(
      "insert into Users (UserId, UserName, UserEMail, SiteAdministrator, PublicUser, Password, EMailEnabled, "
      "DefaultFilter, SecretQuestion, SecretQuestionAnswer) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      params);
}

}  // namespace

bool CreateUser(Database& db, const std::string& submittedByUserId, FormPtr formData) {
  return Writer(db, kClass, "CreateUser", [&] {
    if (!UserCanAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const bool bySiteAdmin = UserIsSiteAdmin(db, submittedByUserId);
    const FormFields& f = PostedFields(formData, "CreateUser");
    NewUser u = ReadNewUser(f);
    const AccountForm& a = u.account;
    if (bySiteAdmin && a.siteAdministrator && a.publicUser) Refuse("A site administrator cannot be a public user.");
    u.siteAdministrator = bySiteAdmin && a.siteAdministrator;
    CheckPassword(a);
    CheckQuestionLengths(a);
    CheckAnswerNeedsQuestion(a);
    const std::vector<std::string> groups = TickedGroups(f);
    u.Hash();

    Database::Transaction tx(db);
    Guarded(db, u.id, [&] { InsertUser(db, u, false); });
    for (const std::string& code : groups)
      Guarded(db, u.id, [&] {
        db.Exec("insert into UserGroups (UserId, GroupCode) values (?, ?)", {UserIdParam(u.id), GroupParam(code)});
      });
    InsertDefaultLayout(db, u.id);
    tx.Commit();
    return true;
  });
}

bool CreatePublicUser(Database& db, FormPtr formData) {
  return Writer(db, kClass, "CreatePublicUser", [&] {
    const FormFields& f = PostedFields(formData, "CreatePublicUser");
    NewUser u = ReadNewUser(f);
    const AccountForm& a = u.account;
    if (a.password1 != a.password2) Refuse("Passwords do not match.");
    if (a.password1.empty()) Refuse("Password cannot be blank.");
    CheckPassword(a);
    if (a.question.empty()) Refuse("A secret question is required.");
    if (a.answer.empty()) Refuse("An answer to the secret question is required.");
    CheckQuestionLengths(a);
    u.Hash();

    Database::Transaction tx(db);
    Guarded(db, u.id, [&] { InsertUser(db, u, true); });
    InsertDefaultLayout(db, u.id);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateUser", &CreateUser);
  c.Method("CreatePublicUser", &CreatePublicUser);
});

}  // namespace

}  // namespace brisquel

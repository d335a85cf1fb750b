// The administrator's change of a user: the account fields through the page's recordset, the
// secrets by statement, and the memberships brought in line with the ticked groups, all in one
// transaction. A group the user leaves takes the user's leads of that group with it.
#include <memory>
#include <string>
#include <vector>

#include "automation/text.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "directory/directory.h"
#include "directory/user_fields.h"

namespace brisquel {

using automation::Variant;
using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";
constexpr const char* kConflict = "Another user has changed this user's information. You must cancel your changes.";

struct UserChange {
  std::string userId;
  AccountForm account;
  bool bySiteAdmin = false;
  bool passwordFromForm = false;
  std::vector<std::string> groups;
};

bool Listed(const std::vector<std::string>& groups, const std::string& code) {
  for (const std::string& g : groups)
    if (automation::EqualsNoCase(g, code)) return true;
  return false;
}

// Removals first (with the user's leads of each group left), then the groups not yet held.
void AlignMemberships(Database& db, const UserChange& c) {
  std::vector<std::string> held;
  db.Each("select GroupCode from UserGroups where UserId = ?", {UserIdParam(c.userId)},
          [&](const sql::Row& r) { held.push_back(r.Text(0)); });
  for (const std::string& code : held) {
    if (Listed(c.groups, code)) continue;
    db.Exec("delete from ProjectGroupLeads where UserId = ? and GroupCode = ?",
            {UserIdParam(c.userId), GroupParam(code)});
    db.Exec("delete from UserGroups where UserId = ? and GroupCode = ?", {UserIdParam(c.userId), GroupParam(code)});
  }
  for (const std::string& code : c.groups) {
    if (Listed(held, code)) continue;
    db.Exec("insert into UserGroups (UserId, GroupCode) values (?, ?)", {UserIdParam(c.userId), GroupParam(code)});
  }
}

void CheckUserChange(Database& db, UserChange& c) {
  const AccountForm& a = c.account;
  CheckName(a);
  CheckEMail(a);
  if (c.bySiteAdmin && a.siteAdministrator && a.publicUser) Refuse("Site adminstrators cannot be public users.");
  // The password of a site administrator is changed only by a site administrator.
  c.passwordFromForm = c.bySiteAdmin || !UserIsSiteAdmin(db, c.userId);
  if (c.passwordFromForm) CheckPassword(a);
  CheckQuestionLengths(a);
  CheckAnswerNeedsQuestion(a);
}

void CopyInto(ado::Recordset& rs, const UserChange& c) {
  const AccountForm& a = c.account;
  rs.SetValue("UserName", Variant(a.name));
  rs.SetValue("UserEMail", Variant(a.email));
  rs.SetValue("PublicUser", Variant(a.publicUser));
  rs.SetValue("EMailEnabled", Variant(a.emailEnabled));
  rs.SetValue("SecretQuestion", Variant(a.question));
  if (c.bySiteAdmin) rs.SetValue("SiteAdministrator", Variant(a.siteAdministrator));
}

// Inside the transaction, so two administrators cannot each take the flag from the other.
void KeepLastSiteAdmin(Database& db, const UserChange& c) {
  if (!c.bySiteAdmin || c.account.siteAdministrator || !UserIsSiteAdmin(db, c.userId)) return;
  if (db.One<int32_t>("select count(*) from Users where UserId <> ? and SiteAdministrator = 1",
                      {UserIdParam(c.userId)})
          .value_or(0) == 0)
    Refuse("The last site administrator must remain a site administrator.");
}

}  // namespace

bool UpdateUser(Database& db, const std::string& submittedByUserId, RecordsetPtr rsUser, FormPtr formData) {
  return Writer(db, kClass, "UpdateUser", [&] {
    const UserRoles submitter = ReadUserRoles(db, submittedByUserId);
    if (!submitter.CanAdmin()) Refuse(kPermissionDenied);
    ado::Recordset& rs = HeldFirstRow(rsUser, "Users", "UpdateUser");
    const FormFields& f = PostedFields(formData, "UpdateUser");
    UserChange c;
    c.userId = rs.Value("UserId").ToString();
    c.account = ReadAccount(f);
    c.bySiteAdmin = submitter.siteAdmin;
    CheckUserChange(db, c);
    c.groups = TickedGroups(f);
    const SecretChange password = c.passwordFromForm ? PasswordChange(c.account.password1) : SecretChange{};
    const SecretChange answer = AnswerChange(c.account.question, c.account.answer);

    Database::Transaction tx(db);
    KeepLastSiteAdmin(db, c);
    CopyInto(rs, c);
    WriteStep(
        db,
        [&] {
          WriteUserRow(db, rs, password, answer);
          AlignMemberships(db, c);
        },
        kConflict);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("UpdateUser", &UpdateUser); });

}  // namespace

}  // namespace brisquel

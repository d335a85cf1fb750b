// Login and the permission questions. Roles are columns: Users.SiteAdministrator and PublicUser,
// ProjectUsers.ProjectAdministrator and OverrideWorkflow, and the membership rows themselves.
#include "core/login.h"

#include "ado/ado.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/password.h"

namespace brisquel {

using ado::Param;
using automation::Variant;

namespace {

constexpr std::string_view kClass = "Database";
// The real width of user ids; group codes are 20.
constexpr int32_t kUserIdSize = 50;
constexpr int32_t kGroupCodeSize = 20;

Param UserIdParam(const std::string& userId) { return Param::Text(userId, kUserIdSize); }

}  // namespace

std::string_view LoginDummyHash() {
  // Same algorithm and cost as HashSecret, of 32 random bytes that were thrown away.
  return "$argon2id$v=19$m=65536,t=2,p=1$56dDF1m5rXO1noKtBMEknQ$z8iYO0DPyIHqHIECz7Pze5kbIn4eExa+Q//dZ6QUVYQ";
}

bool Login(Database& db, const std::string& userId, const std::string& password) {
  return Procedure(kClass, "Login", [&] {
    // The id compares without regard to case (the column's collation) but exactly otherwise; an
    // id longer than any stored one names nobody.
    Variant stored;
    if (CharLength(userId) <= static_cast<size_t>(kUserIdSize))
      stored = db.Scalar("Select Password FROM Users where UserId = ?", {UserIdParam(userId)});
    std::string hash = stored.ToText();
    // No account, or one without a usable hash: the same work against a hash nobody matches.
    const bool usable = hash.starts_with("$argon2id$");
    const bool match = VerifySecret(usable ? std::string_view(hash) : LoginDummyHash(), password);
    return usable && match;
  });
}

bool UserIsSiteAdmin(Database& db, const std::string& userId) {
  return Procedure(kClass, "UserIsSiteAdmin", [&] {
    return db.Exists("SELECT SiteAdministrator FROM Users where Users.UserId = ? and SiteAdministrator = 1",
                     {UserIdParam(userId)});
  });
}

bool UserIsPublic(Database& db, const std::string& userId) {
  return Procedure(kClass, "UserIsPublic", [&] {
    return db.Exists("SELECT PublicUser FROM Users where Users.UserId = ? and Users.PublicUser = 1",
                     {UserIdParam(userId)});
  });
}

bool UserCanModifyIssue(Database& db, const std::string& userId, int32_t issueId) {
  return Procedure(kClass, "UserCanModifyIssue", [&] {
    if (db.Exists("SELECT SiteAdministrator FROM Users where Users.UserId = ? and SiteAdministrator = 1",
                  {UserIdParam(userId)}))
      return true;
    if (db.Exists("select ProjectAdministrator from ProjectUsers where ProjectAdministrator = 1 and UserId = ? "
                  "and ProjectId = (select ProjectId from Issues where IssueId = ?)",
                  {UserIdParam(userId), Param::Long(issueId)}))
      return true;
    return db.Exists("SELECT IssueId FROM Issues where Issues.IssueId = ? and Issues.AssignedToUser = ?",
                     {Param::Long(issueId), UserIdParam(userId)});
  });
}

bool UserIsProjectAdmin(Database& db, const std::string& userId, int32_t projectId) {
  return Procedure(kClass, "UserIsProjectAdmin", [&] {
    if (projectId != -1)
      return db.Exists(
          "SELECT ProjectAdministrator FROM ProjectUsers where UserId = ? and ProjectId = ? and "
          "ProjectAdministrator = 1",
          {UserIdParam(userId), Param::Long(projectId)});
    return db.Exists("SELECT ProjectAdministrator FROM ProjectUsers where UserId = ? and ProjectAdministrator = 1",
                     {UserIdParam(userId)});
  });
}

bool UserCanOverrideWorkflow(Database& db, const std::string& userId, int32_t projectId) {
  return Procedure(kClass, "UserCanOverrideWorkflow", [&] {
    return db.Exists(
        "SELECT OverrideWorkflow FROM ProjectUsers where UserId = ? and ProjectId = ? and OverrideWorkflow = 1",
        {UserIdParam(userId), Param::Long(projectId)});
  });
}

std::string ProjectGroupLead(Database& db, int32_t projectId, const std::string& groupCode) {
  return Procedure(kClass, "ProjectGroupLead", [&] {
    Variant lead = db.Scalar("SELECT UserId FROM ProjectGroupLeads where ProjectId = ? and GroupCode = ?",
                             {Param::Long(projectId), Param::Text(groupCode, kGroupCodeSize)});
    return lead.ToText();
  });
}

bool UserIsProjectMember(Database& db, const std::string& userId, int32_t projectId) {
  return Procedure(kClass, "UserIsProjectMember", [&] {
    return db.Exists("SELECT * FROM ProjectUsers where UserId = ? and ProjectId = ?",
                     {UserIdParam(userId), Param::Long(projectId)});
  });
}

UserRoles ReadUserRoles(Database& db, const std::string& userId) {
  return Procedure(kClass, "ReadUserRoles", [&] {
    UserRoles roles;
    db.Each(
        "select exists(select 1 from Users where UserId = ? and SiteAdministrator = 1) as SiteAdmin, "
        "exists(select 1 from Users where UserId = ? and PublicUser = 1) as PublicUser, "
        "exists(select 1 from ProjectUsers where UserId = ? and ProjectAdministrator = 1) as ProjectAdmin",
        {UserIdParam(userId), UserIdParam(userId), UserIdParam(userId)}, [&](const sql::Row& r) {
          roles = {r.Flag("SiteAdmin"), r.Flag("PublicUser"), r.Flag("ProjectAdmin")};
        });
    return roles;
  });
}

bool UserCanAdmin(Database& db, const std::string& userId) {
  return Procedure(kClass, "UserCanAdmin", [&] { return ReadUserRoles(db, userId).CanAdmin(); });
}

RecordsetPtr GetUserAdminProjectsRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetUserAdminProjectsRs", [&] {
    if (db.Exists("SELECT SiteAdministrator FROM Users where UserId = ? and SiteAdministrator = 1",
                  {UserIdParam(userId)}))
      return GetProjectsRs(db);
    return db.Read(
        "select Projects.* from Projects INNER JOIN ProjectUsers ON Projects.ProjectId = ProjectUsers.ProjectId "
        "where ProjectUsers.UserId = ? and ProjectUsers.ProjectAdministrator = 1 order by Projects.ProjectCode",
        {UserIdParam(userId)}, kDefaultCriteriaRows);
  });
}

Variant UserInGroup(Database& db, const std::string& userId, const std::string& groupCode) {
  return Procedure(kClass, "UserInGroup", [&] {
    return Variant(db.Exists("SELECT UserId FROM UserGroups where UserId = ? and GroupCode = ?",
                             {UserIdParam(userId), Param::Text(groupCode, kGroupCodeSize)}));
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("Login", &Login);
  c.Method("UserCanModifyIssue", &UserCanModifyIssue);
  c.Method("UserIsPublic", &UserIsPublic);
  c.Method("UserIsSiteAdmin", &UserIsSiteAdmin);
  c.Method("UserIsProjectAdmin", &UserIsProjectAdmin, {Variant(-1)});
  c.Method("UserCanOverrideWorkflow", &UserCanOverrideWorkflow);
  c.Method("ProjectGroupLead", &ProjectGroupLead);
  c.Method("UserIsProjectMember", &UserIsProjectMember);
  c.Method("UserCanAdmin", &UserCanAdmin);
  c.Method("GetUserAdminProjectsRs", &GetUserAdminProjectsRs);
  c.Method("UserInGroup", &UserInGroup);
});

}  // namespace

}  // namespace brisquel

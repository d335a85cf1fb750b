// The site directory: projects, builds, users, groups, resolutions and status codes, and the sets
// that depend on who asks. Readers of Users rows name their columns: the password and secret
// answer hashes never leave the library.
#include <string>

#include "ado/ado.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"

namespace brisquel {

using ado::Param;

namespace {

constexpr std::string_view kClass = "Database";
constexpr int32_t kUserIdSize = 50;
constexpr int32_t kGroupCodeSize = 20;
// Build and resolution codes are code-table values of up to 50 characters.
constexpr int32_t kCodeSize = 50;

// Every column of Users but Password and SecretQuestionAnswer, in table order.
#define USER_COLUMNS                                                                                   \
  "Users.UserId, Users.UserName, Users.UserEMail, Users.SiteAdministrator, Users.PublicUser, "        \
  "Users.EMailEnabled, Users.DefaultFilter, Users.DefaultProject, Users.DefaultLayout, "               \
  "Users.MyAssignmentNumIssues, Users.SearchNumIssues, Users.ReleaseNotesNumIssues, "                  \
  "Users.SecretQuestion, Users.LastUpdated"
constexpr const char* kAllUsers = "SELECT " USER_COLUMNS " FROM Users order by UserId";

}  // namespace

RecordsetPtr GetProjectsRs(Database& db) {
  return Procedure(kClass, "GetProjectsRs",
                   [&] { return db.Read("select Projects.* from Projects order by ProjectCode"); });
}

RecordsetPtr GetProjectRs(Database& db, int32_t projectId) {
  return Procedure(kClass, "GetProjectRs", [&] {
    return db.Read("SELECT * from Projects where Projects.ProjectId = ?", {Param::Long(projectId)});
  });
}

RecordsetPtr GetBuildRs(Database& db, int32_t projectId, const std::string& buildCode) {
  return Procedure(kClass, "GetBuildRs", [&] {
    return db.Read("SELECT * from ProjectBuilds where ProjectId = ? and BuildCode = ?",
                   {Param::Long(projectId), Param::Text(buildCode, kCodeSize)});
  });
}

RecordsetPtr GetUsersRs(Database& db) {
  return Procedure(kClass, "GetUsersRs", [&] { return db.Read(kAllUsers); });
}

RecordsetPtr GetInternalUsersRs(Database& db) {
  return Procedure(kClass, "GetInternalUsersRs", [&] {
    return db.Read("SELECT " USER_COLUMNS " FROM Users where PublicUser = 0 order by UserId");
  });
}

RecordsetPtr GetUserRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetUserRs", [&] {
    return db.Read("SELECT " USER_COLUMNS " from Users where Users.UserId = ?", {Param::Text(userId, kUserIdSize)});
  });
}

RecordsetPtr GetUserGroupsRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetUserGroupsRs", [&] {
    return db.Read("SELECT * from UserGroups where UserGroups.UserId = ?", {Param::Text(userId, kUserIdSize)});
  });
}

RecordsetPtr GetGroupsRs(Database& db) {
  return Procedure(kClass, "GetGroupsRs", [&] { return db.Read("SELECT * from Groups order by GroupCode"); });
}

RecordsetPtr GetGroupRs(Database& db, const std::string& groupCode) {
  return Procedure(kClass, "GetGroupRs", [&] {
    return db.Read("SELECT * from Groups where GroupCode = ?", {Param::Text(groupCode, kGroupCodeSize)});
  });
}

RecordsetPtr GetReassignToRs(Database& db, int32_t currentIssueId) {
  return Procedure(kClass, "GetReassignToRs", [&] {
    return db.Read(
        "SELECT Users.UserId, Users.UserName FROM Issues INNER JOIN ProjectUsers ON Issues.ProjectId = "
        "ProjectUsers.ProjectId INNER JOIN Users ON ProjectUsers.UserId = Users.UserId WHERE (Issues.IssueId = ?) "
        "order by Users.UserId",
        {Param::Long(currentIssueId)});
  });
}

RecordsetPtr GetResolutionsRs(Database& db) {
  return Procedure(kClass, "GetResolutionsRs",
                   [&] { return db.Read("SELECT Resolutions.* FROM Resolutions order by SortOrder"); });
}

RecordsetPtr GetResolutionRs(Database& db, const std::string& resolutionCode) {
  return Procedure(kClass, "GetResolutionRs", [&] {
    return db.Read(
        "SELECT Resolutions.ResolutionCode, Resolutions.SortOrder from Resolutions where Resolutions.ResolutionCode = ?",
        {Param::Text(resolutionCode, kCodeSize)});
  });
}

RecordsetPtr GetStatusCodesRs(Database& db) {
  return Procedure(kClass, "GetStatusCodesRs",
                   [&] { return db.Read("SELECT StatusCode FROM StatusCodes order by SortOrder"); });
}

namespace {
// The members and, for a publicly accessible project, every public user; the union keeps each id
// once.
constexpr const char* kProjectUsers =
    "SELECT ProjectUsers.UserId from ProjectUsers where ProjectUsers.ProjectId = ?"
    " union select Users.UserId from Users, Projects where Projects.ProjectId = ? and "
    "Projects.PublicAccessible = 1 and Users.PublicUser = 1";
}  // namespace

RecordsetPtr GetProjectUsersRs(Database& db, int32_t projectId) {
  return Procedure(kClass, "GetProjectUsersRs",
                   [&] { return db.Read(kProjectUsers, {Param::Long(projectId), Param::Long(projectId)}); });
}

void EachProjectUser(Database& db, int32_t projectId, const RowFn& fn) {
  db.Each(kProjectUsers, {Param::Long(projectId), Param::Long(projectId)}, fn);
}

namespace {

// The projects a user may use, one statement per kind of user.
constexpr const char* kAllProjects = "SELECT Projects.ProjectCode, Projects.ProjectId FROM Projects order by ProjectCode";
constexpr const char* kPublicProjects =
    "SELECT Projects.ProjectCode, Projects.ProjectId FROM Projects WHERE (Projects.PublicAccessible = 1) "
    "order by ProjectCode";
constexpr const char* kMemberProjects =
    "SELECT Projects.ProjectCode, Projects.ProjectId FROM Projects INNER JOIN ProjectUsers ON "
    "Projects.ProjectId = ProjectUsers.ProjectId INNER JOIN Users ON ProjectUsers.UserId = Users.UserId "
    "WHERE (Users.UserId = ?) order by ProjectCode";

// A site administrator marked public still sees every project: the administrator comes first.
template <class Run>
auto UserProjects(Database& db, const std::string& userId, Run&& run) {
  const UserRoles roles = ReadUserRoles(db, userId);
  if (roles.siteAdmin) return run(kAllProjects, ado::Params{});
  if (roles.publicUser) return run(kPublicProjects, ado::Params{});
  return run(kMemberProjects, ado::Params{Param::Text(userId, kUserIdSize)});
}

}  // namespace

RecordsetPtr GetUserProjectsRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetUserProjectsRs", [&] {
    return UserProjects(db, userId, [&](const char* sql, const ado::Params& p) { return db.Read(sql, p); });
  });
}

void EachUserProject(Database& db, const std::string& userId, const RowFn& fn) {
  UserProjects(db, userId, [&](const char* sql, const ado::Params& p) { db.Each(sql, p, fn); });
}

bool IsUserProject(Database& db, const std::string& userId, int32_t projectId) {
  bool found = false;
  EachUserProject(db, userId, [&](const sql::Row& r) { found = found || r.Long("ProjectId") == projectId; });
  return found;
}

namespace {

// The users of the projects a user may use, one statement per kind of user (a site administrator:
// every user).
constexpr const char* kPublicProjectsUsers =
    "SELECT distinct ProjectUsers.UserId FROM ProjectUsers inner join Projects on ProjectUsers.ProjectId = "
    "Projects.ProjectId WHERE Projects.PublicAccessible = 1 order by ProjectUsers.UserId";
constexpr const char* kMemberProjectsUsers =
    "SELECT distinct ProjectUsers.UserId FROM ProjectUsers, ProjectUsers As SpecifiedUserProjects WHERE "
    "ProjectUsers.ProjectId = SpecifiedUserProjects.ProjectId AND SpecifiedUserProjects.UserId = ? "
    "union select distinct Users.UserId from Users where Users.PublicUser = 1 "
    "order by ProjectUsers.UserId";

template <class Run>
auto UserProjectsUsers(Database& db, const std::string& userId, Run&& run) {
  const UserRoles roles = ReadUserRoles(db, userId);
  if (roles.siteAdmin) return run(kAllUsers, ado::Params{});
  if (roles.publicUser) return run(kPublicProjectsUsers, ado::Params{});
  return run(kMemberProjectsUsers, ado::Params{Param::Text(userId, kUserIdSize, "UserId")});
}

}  // namespace

RecordsetPtr GetUserProjectsUsersRs(Database& db, const std::string& userId) {
  return Procedure(kClass, "GetUserProjectsUsersRs", [&] {
    return UserProjectsUsers(db, userId, [&](const char* sql, const ado::Params& p) { return db.Read(sql, p); });
  });
}

void EachUserProjectsUser(Database& db, const std::string& userId, const RowFn& fn) {
  UserProjectsUsers(db, userId, [&](const char* sql, const ado::Params& p) { db.Each(sql, p, fn); });
}

RecordsetPtr GetGroupUsersRs(Database& db, const std::string& groupCode, int32_t projectId) {
  return Procedure(kClass, "GetGroupUsersRs", [&] {
    return db.Read(
        "select " USER_COLUMNS " from Users "
        "where SiteAdministrator = 1 "
        "      or exists(select * from UserGroups where GroupCode = ? and UserGroups.UserId = Users.UserId) "
        "      or exists(select * from ProjectUsers where ProjectId = ? and ProjectAdministrator = 1 and "
        "ProjectUsers.UserId = Users.UserId) "
        "order by UserId",
        {Param::Text(groupCode, kGroupCodeSize), Param::Long(projectId)});
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("GetProjectsRs", &GetProjectsRs);
  c.Method("GetProjectRs", &GetProjectRs);
  c.Method("GetBuildRs", &GetBuildRs);
  c.Method("GetUsersRs", &GetUsersRs);
  c.Method("GetInternalUsersRs", &GetInternalUsersRs);
  c.Method("GetUserRs", &GetUserRs);
  c.Method("GetUserGroupsRs", &GetUserGroupsRs);
  c.Method("GetGroupsRs", &GetGroupsRs);
  c.Method("GetGroupRs", &GetGroupRs);
  c.Method("GetReassignToRs", &GetReassignToRs);
  c.Method("GetResolutionsRs", &GetResolutionsRs);
  c.Method("GetResolutionRs", &GetResolutionRs);
  c.Method("GetStatusCodesRs", &GetStatusCodesRs);
  c.Method("GetProjectUsersRs", &GetProjectUsersRs);
  c.Method("GetUserProjectsRs", &GetUserProjectsRs);
  c.Method("GetUserProjectsUsersRs", &GetUserProjectsUsersRs);
  c.Method("GetGroupUsersRs", &GetGroupUsersRs);
});

}  // namespace

#undef USER_COLUMNS

}  // namespace brisquel

// The list of groups: CreateGroup adds one code, DeleteGroup removes the ticked groups with every
// reference to them. Both are for site administrators.
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

using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";

// In the order of execution; actions that assigned the group automatically lose it, the others
// keep their code.
constexpr const char* kGroupDeletes[] = {
    "delete from WorkflowStateTeamLeads where GroupCode = ?",
    "delete from WorkflowStateGroups where GroupCode = ?",
    "delete from WorkflowActionAssignments where GroupCode = ?",
    "update WorkflowActions set AllowAutomatic = 0, GroupCode = '' where AllowAutomatic = 1 and GroupCode = ?",
    "delete from ProjectGroupLeads where GroupCode = ?",
    "delete from UserGroups where GroupCode = ?",
    "delete from Groups where Groups.GroupCode= ?",
};

// A project that treats public users as members of the group needs it.
void RefusePublicUsersGroup(Database& db, const std::string& code) {
  if (auto project = db.One<std::string>(
          "select ProjectCode from Projects where PublicMembersOfGroupCode = ? order by ProjectCode limit 1",
          {ado::Param::Text(code, 50)}))
    Refuse("The group '" + code + "' is the public users' group of project '" + *project +
           "' and cannot be deleted.");
}

}  // namespace

bool CreateGroup(Database& db, const std::string& userId, FormPtr formData) {
  return Writer(db, kClass, "CreateGroup", [&] {
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    const std::string code = PostedText(PostedFields(formData, "CreateGroup"), "GroupCode");
    if (automation::CharLength(code) > 20) Refuse("Group cannot be longer than 20 characters.");
    if (code.empty()) Refuse("Group cannot be blank.");
    WriteStep(
        db, [&] { db.Exec("insert into Groups (GroupCode) values (?)", {GroupParam(code)}); },
        [&](const automation::LastError& e) {
          return DuplicateFailure(db, e, "The group '" + code + "' already exists.");
        });
    return true;
  });
}

bool DeleteGroup(Database& db, const std::string& userId, FormPtr formData) {
  return Writer(db, kClass, "DeleteGroup", [&] {
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    // Codes are used as posted: the list page does not encode them.
    const std::vector<std::string> ticked = PostedList(PostedFields(formData, "DeleteGroup"), "chkGroup");
    for (const std::string& code : ticked) RequireKeyLength(code, "group", kGroupCodeSize);
    Database::Transaction tx(db);
    for (const std::string& code : ticked) {
      RefusePublicUsersGroup(db, code);
      WriteStep(db, [&] {
        for (const char* statement : kGroupDeletes) db.Exec(statement, {GroupParam(code)});
      });
    }
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateGroup", &CreateGroup);
  c.Method("DeleteGroup", &DeleteGroup);
});

}  // namespace

}  // namespace brisquel

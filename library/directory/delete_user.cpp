// Deleting the ticked users with their memberships, leads, layouts and filters: the whole list in
// one transaction, so one user who may not go keeps every user of the list.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

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

// In the order the rows depend on each other; the layout fields through their layouts.
constexpr const char* kDeletes[] = {
    "delete from ProjectGroupLeads where UserId = ?",
    "delete from UserGroups where UserId = ?",
    "delete from ProjectUsers where UserId = ?",
    // The fields of the user's layouts, found through the index on (UserId, LayoutName).
    ("delete from SummaryLayoutFields where UserId = ? and LayoutName in "
     "(select SummaryLayouts.LayoutName from SummaryLayouts where SummaryLayouts.UserId = ?)"),
    "delete from SummaryLayouts where UserId = ?",
    "delete from SummaryFilters where UserId = ?",
    "delete from Users where UserId= ?",
};

// Issue data names users by id without a key the engine could check: asked here, one probe of
// an index per column that names a user (an OR across them would scan the tables).
bool NamedByIssues(Database& db, const std::string& userId) {
  return db.Exists(
      "select 1 where exists (select 1 from Issues where AssignedToUser = ?1) "
      "or exists (select 1 from Issues where CreatedByUserId = ?1) "
      "or exists (select 1 from IssueHistory where UserId = ?1) "
      "or exists (select 1 from IssueHistory where OldAssignedToUser = ?1) "
      "or exists (select 1 from IssueHistory where NewAssignedToUser = ?1)",
      {UserIdParam(userId)});
}

std::string AssignedSentence(const std::string& userId) {
  return "At least one issue is/was assigned to user '" + userId + "'. The user could not be deleted.";
}

void DeleteOne(Database& db, const std::string& userId, bool bySiteAdmin) {
  if (UserIsSiteAdmin(db, userId)) {
    if (!bySiteAdmin) Refuse("Site administrators can only be deleted by other site administrators.");
    // Counted inside the transaction: earlier users of the list are already gone.
    if (db.One<int32_t>("select count(*) from Users where UserId <> ? and SiteAdministrator = 1",
                        {UserIdParam(userId)})
            .value_or(0) == 0)
      Refuse("The last site administrator cannot be deleted.");
  }
  if (NamedByIssues(db, userId)) Refuse(AssignedSentence(userId));
  WriteStep(
      db,
      [&] {
        for (std::string_view statement : kDeletes)
          db.Exec(statement, ado::Params(std::count(statement.begin(), statement.end(), '?'), UserIdParam(userId)));
      },
      [&](const automation::LastError& e) { return ReferenceFailure(db, e, AssignedSentence(userId)); });
}

}  // namespace

bool DeleteUser(Database& db, const std::string& submittedByUserId, FormPtr formData) {
  return Writer(db, kClass, "DeleteUser", [&] {
    const UserRoles submitter = ReadUserRoles(db, submittedByUserId);
    if (!submitter.CanAdmin()) Refuse(kPermissionDenied);
    const FormFields& f = PostedFields(formData, "DeleteUser");
    const std::vector<std::string> ticked = PostedKeys(f, "chkUser", "user id", kUserIdSize);
    const bool bySiteAdmin = submitter.siteAdmin;
    Database::Transaction tx(db);
    for (const std::string& userId : ticked) DeleteOne(db, userId, bySiteAdmin);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("DeleteUser", &DeleteUser); });

}  // namespace

}  // namespace brisquel

// Deleting the ticked projects with everything that belongs to them: notifications and rules,
// leads, members, the issues with their history, comments and attachments, the project's values
// in every per-project code table, the Projects row. The whole list is one transaction.
#include <cstdint>
#include <string>
#include <vector>

#include "core/code_table_lookup.h"
#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "directory/directory.h"
#include "directory/project_fields.h"

namespace brisquel {

using ado::Param;
using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";

// Before the issues: the queue refers to them (FK_EMailNotifications_Issues).
constexpr const char* kProjectDeletes[] = {
    "delete from EMailNotifications where IssueId in (select IssueId from Issues where ProjectId = ?)",
    "delete from EMailNotificationRules where ProjectId = ?",
    "delete from ProjectGroupLeads where ProjectId = ?",
    "delete from ProjectUsers where ProjectId = ?",
    "delete from IssueHistory where IssueId in (select IssueId from Issues where ProjectId = ?)",
    "delete from IssueComments where IssueId in (select IssueId from Issues where ProjectId = ?)",
    "delete from IssueAttachments where IssueId in (select IssueId from Issues where ProjectId = ?)",
    "delete from Issues where ProjectId = ?",
};

void DeleteOne(Database& db, int32_t id, const std::vector<QuotedCodeTable>& codeTables) {
  auto deletes = [&] {
    for (const char* statement : kProjectDeletes) db.Exec(statement, {Param::Long(id)});
    for (const QuotedCodeTable& t : codeTables)
      db.Exec("delete from " + t.table + " where ProjectId = " + std::to_string(id));
    db.Exec("delete from Projects where ProjectId = ?", {Param::Long(id)});
  };
  WriteStep(db, deletes, [&](const automation::LastError& e) {
    // The error is read before the lookup of the project's code, which starts a new error list.
    if (db.FirstError().nativeError != ado::native::kReference) return db.UnexpectedReport(e);
    // A refused reference; the project's code names it, or its id when it has none.
    const std::string code =
        db.One<std::string>("select ProjectCode from Projects where ProjectId = ?", {Param::Long(id)})
            .value_or(std::to_string(id));
    return "At least one issue is assigned to project '" + code + "'. The project cannot be deleted.";
  });
}

}  // namespace

bool DeleteProject(Database& db, const std::string& userId, FormPtr formData) {
  return Writer(db, kClass, "DeleteProject", [&] {
    const std::vector<int32_t> ids = PostedIds(PostedFields(formData, "DeleteProject"), "chkProject", "project id");
    // A site administrator, or an administrator of every listed project.
    if (const UserRoles roles = ReadUserRoles(db, userId); !roles.siteAdmin) {
      bool allowed = roles.CanAdmin();
      for (int32_t id : ids) allowed = allowed && UserIsProjectAdmin(db, userId, id);
      if (!allowed) Refuse(kPermissionDenied);
    }
    const std::vector<QuotedCodeTable> codeTables = PerProjectCodeTables(db, userId);
    Database::Transaction tx(db);
    for (int32_t id : ids) DeleteOne(db, id, codeTables);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("DeleteProject", &DeleteProject); });

}  // namespace

}  // namespace brisquel

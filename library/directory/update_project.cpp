// Changing a project: its fields through the page's recordset, then its members and group leads
// replaced wholesale from the form, in one transaction.
#include <string>

#include "core/database.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "directory/directory.h"
#include "directory/project_fields.h"

namespace brisquel {

using ado::Param;
using automation::Variant;
using namespace directory;

namespace {

constexpr std::string_view kClass = "Database";
constexpr const char* kConflict = "Another user has changed this project. You must cancel your changes.";

}  // namespace

bool UpdateProject(Database& db, const std::string& submittedByUserId, RecordsetPtr rsProject, FormPtr formData) {
  return Writer(db, kClass, "UpdateProject", [&] {
    ado::Recordset& rs = HeldFirstRow(rsProject, "Projects", "UpdateProject");
    const int32_t id = rs.Value("ProjectId").ToLong();
    if (!UserIsProjectAdmin(db, submittedByUserId, id) && !UserIsSiteAdmin(db, submittedByUserId))
      Refuse(kPermissionDenied);
    const ProjectForm p = ReadProjectForm(PostedFields(formData, "UpdateProject"), true);
    CheckTeam(db, p);

    Database::Transaction tx(db);
    rs.SetValue("ProjectDescription", Variant(p.description));
    rs.SetValue("PublicAccessible", Variant(p.publicAccessible));
    rs.SetValue("PublicMembersOfGroupCode", Variant(p.publicGroup));
    rs.SetValue("EMailEnabled", Variant(p.emailEnabled));
    WriteStep(
        db,
        [&] {
          db.WriteBack(rs);
          db.Exec("delete from ProjectGroupLeads where ProjectId = ?", {Param::Long(id)});
          db.Exec("delete from ProjectUsers where ProjectId = ?", {Param::Long(id)});
          WriteMembers(db, id, p);
        },
        kConflict);
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("UpdateProject", &UpdateProject); });

}  // namespace

}  // namespace brisquel

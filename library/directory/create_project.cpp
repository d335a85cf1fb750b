// Creating a project: the Projects row, its members, administrators and group leads, and a blank
// value in every code table that varies by project, in one transaction.
#include <string>
#include <vector>

#include "automation/text.h"
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

int64_t InsertProject(Database& db, const std::string& code, const ProjectForm& p) {
  db.Exec(
      "insert into Projects (ProjectCode, PublicAccessible, PublicMembersOfGroupCode, ProjectDescription, "
      "EMailEnabled) values (?, ?, ?, ?, ?)",
      {Param::Text(code, 50), Param::Bool(p.publicAccessible), Param::Text(p.publicGroup, 50),
       Param::Text(p.description, 4094), Param::Bool(p.emailEnabled)});
  return db.Connection().LastInsertRowId();
}

}  // namespace

bool CreateProject(Database& db, const std::string& submittedByUserId, FormPtr formData) {
  return Writer(db, kClass, "CreateProject", [&] {
    if (!UserCanAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const FormFields& f = PostedFields(formData, "CreateProject");
    const std::string code = PostedText(f, "ProjectCode");
    if (code.empty()) Refuse("Project code cannot be blank.");
    if (automation::CharLength(code) > 50) Refuse("Project code cannot be longer than 50 characters.");
    const ProjectForm p = ReadProjectForm(f, false);
    CheckTeam(db, p);
    const std::vector<QuotedCodeTable> codeTables = PerProjectCodeTables(db, submittedByUserId);

    Database::Transaction tx(db);
    int64_t id = 0;
    WriteStep(
        db,
        [&] {
          id = InsertProject(db, code, p);
          WriteMembers(db, static_cast<int32_t>(id), p);
        },
        [&](const automation::LastError& e) {
          return DuplicateFailure(db, e, "The project '" + code + "' already exists.");
        });
    for (const QuotedCodeTable& t : codeTables) {
      if (t.naturalSort)
        db.Exec("insert into " + t.table + " (ProjectId, " + t.valueColumn + ") values (" + std::to_string(id) +
                ", '')");
      else
        db.Exec("insert into " + t.table + " (ProjectId, " + t.valueColumn + ", SortOrder) values (" +
                std::to_string(id) + ", '', 1)");
    }
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) { c.Method("CreateProject", &CreateProject); });

}  // namespace

}  // namespace brisquel

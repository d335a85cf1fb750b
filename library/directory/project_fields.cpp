#include "directory/project_fields.h"

#include "automation/text.h"
#include "core/writer.h"
#include "directory/user_fields.h"

namespace brisquel::directory {

using ado::Param;

namespace {

// The decoded users of a posted list, each once without regard to case (the keys ignore case).
std::vector<std::string> Users(const FormFields& f, std::string_view name) {
  std::vector<std::string> out;
  for (std::string& id : PostedKeys(f, name, "user id", kUserIdSize)) {
    bool seen = false;
    for (const std::string& kept : out) seen = seen || automation::EqualsNoCase(kept, id);
    if (!seen) out.push_back(std::move(id));
  }
  return out;
}

// GroupLead and GroupCode are paired by position; a row without a lead (blank, or only spaces)
// is skipped, and a group posted twice keeps its first row. A lead whose row posted no group code
// (the list is shorter, or the code blank) would lead no group: the form is refused.
std::vector<GroupLead> Leads(const FormFields& f) {
  const std::vector<std::string>& leads = f.Values("GroupLead");
  const std::vector<std::string>& codes = f.Values("GroupCode");
  std::vector<GroupLead> out;
  for (size_t i = 0; i < leads.size(); ++i) {
    if (TrimSpaces(leads[i]).empty()) continue;
    if (i >= codes.size() || TrimSpaces(codes[i]).empty()) Refuse("Each group lead needs its group code.");
    GroupLead l{PostedKey(leads[i], "user id", kUserIdSize), PostedKey(codes[i], "group", kGroupCodeSize)};
    bool seen = false;
    for (const GroupLead& kept : out) seen = seen || automation::EqualsNoCase(kept.groupCode, l.groupCode);
    if (!seen) out.push_back(std::move(l));
  }
  return out;
}

}  // namespace

ProjectForm ReadProjectForm(const FormFields& f, bool withOverride) {
  ProjectForm p;
  p.description = PostedText(f, "ProjectDescription");
  if (p.description.empty()) Refuse("Description cannot be blank.");
  if (automation::CharLength(p.description) > 4000) Refuse("Description cannot be longer than 4000 characters.");
  p.publicAccessible = PostedOn(f, "PublicAccessible");
  p.publicGroup = PostedText(f, "PublicMembersOfGroupCode");
  if (p.publicGroup.empty() && p.publicAccessible) Refuse("Public users must be treated as members of a group.");
  CheckLength(p.publicGroup, 50, "Public users' group");
  p.emailEnabled = PostedOn(f, "EMailEnabled");
  p.members = Users(f, "TeamMember");
  if (withOverride) p.overrideWorkflow = Users(f, "OverrideWorkflow");
  p.admins = Users(f, "ProjectAdmin");
  p.leads = Leads(f);
  return p;
}

std::vector<QuotedCodeTable> PerProjectCodeTables(Database& db, const std::string& userId) {
  std::vector<std::string> names;
  db.Each("select TableName from IssueCodeTables where TableName <> 'ProjectUsers' and VariesByProject = 1 "
          "order by TableName",
          {}, [&](const sql::Row& r) { names.push_back(r.Text(0)); });
  std::vector<QuotedCodeTable> tables;
  for (const std::string& name : names) tables.push_back(ReadCodeTable(db, userId, name));
  return tables;
}

namespace {

bool IsUser(Database& db, const std::string& id) {
  return automation::CharLength(id) <= static_cast<size_t>(kUserIdSize) &&
         db.Exists("select UserId from Users where UserId = ?", {UserIdParam(id)});
}

}  // namespace

void CheckTeam(Database& db, const ProjectForm& p) {
  for (const std::string& id : p.members)
    if (!IsUser(db, id)) Refuse("The user '" + id + "' does not exist.");
  for (const GroupLead& l : p.leads)
    if (!IsUser(db, l.userId)) Refuse("The user '" + l.userId + "' does not exist.");
}

void WriteMembers(Database& db, int32_t projectId, const ProjectForm& p) {
  const Param project = Param::Long(projectId);
  for (const std::string& id : p.members)
    db.Exec("insert into ProjectUsers (ProjectId, UserId) values (?, ?)", {project, UserIdParam(id)});
  for (const std::string& id : p.overrideWorkflow)
    db.Exec("update ProjectUsers set OverrideWorkflow = 1 where ProjectId = ? and UserId = ?",
            {project, UserIdParam(id)});
  for (const std::string& id : p.admins)
    db.Exec("update ProjectUsers set ProjectAdministrator = 1 where ProjectId = ? and UserId = ?",
            {project, UserIdParam(id)});
  for (const GroupLead& l : p.leads) {
    if (!db.Exists("select * from UserGroups where UserId = ? and GroupCode = ?",
                   {UserIdParam(l.userId), GroupParam(l.groupCode)}))
      db.Exec("insert into UserGroups (UserId, GroupCode) values (?, ?)",
              {UserIdParam(l.userId), GroupParam(l.groupCode)});
    db.Exec("insert into ProjectGroupLeads (ProjectId, UserId, GroupCode) values (?, ?, ?)",
            {project, UserIdParam(l.userId), GroupParam(l.groupCode)});
  }
}

}  // namespace brisquel::directory

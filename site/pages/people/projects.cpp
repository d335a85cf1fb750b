// /Setup/Projects.asp, /Setup/Project.asp and /Setup/ProjectModules.asp: the projects a site or
// project administrator administers. The list ticks projects for DeleteProject; the project page
// creates one (CreateProject) or changes one through the row it was read as (UpdateProject): its
// fields, its members with their flags, and a lead per group. A project's modules are one of its
// code tables, kept on the code-table page.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using namespace forms;

constexpr std::string_view kList = "/Setup/Projects.asp";
constexpr std::string_view kEdit = "/Setup/Project.asp";

// A site administrator administers every project, a project administrator his own.
bool AdministersProject(automation::Object& db, const std::string& userId, int32_t projectId) {
  return db.Call("UserIsProjectAdmin", {Variant(userId), Variant(projectId)}).ToBool() ||
         db.Call("UserIsSiteAdmin", {Variant(userId)}).ToBool();
}

void SendProjects(PageContext& page, automation::Object& db, const std::string& message) {
  std::vector<ListRow> rows;
  auto rs = db.Call("GetUserAdminProjectsRs", {Variant(page.UserId())}).ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string id = FieldText(*rs, "ProjectId");
    rows.push_back({id, page.Url(kEdit) + "?ProjectId=" + id, FieldText(*rs, "ProjectCode"),
                    {FieldText(*rs, "ProjectDescription"), FieldValue(*rs, "PublicAccessible").ToBool() ? "Public" : ""}});
  }
  const std::string table = ListTable("Projects", "chkProject", {"Project", "Description", "Access"}, rows);
  page.SendPage("Projects", ListPage(page, "Projects", kList, message, table, kEdit, "New project..."));
}

void ProjectsPage(PageContext& page) {
  auto db = page.Database();
  if (RequireCanAdmin(page, *db)) SendProjects(page, *db, "");
}

// The ticked projects go with everything of theirs, all or none.
void ProjectsPost(PageContext& page) { DeleteTicked(page, "DeleteProject", kList, SendProjects, true); }

// What the project form shows: the stored project, or what was posted when the save was refused.
// Users and groups are kept URL-encoded, as their boxes post them.
struct ProjectForm {
  std::string image;  // the stored row as read; "" for a new project
  int32_t projectId = -1;
  std::string code, description, publicGroup;
  bool publicAccessible = false, emailEnabled = true;
  std::vector<std::string> members, overrides, admins;
  std::map<std::string, std::string> leads;  // group -> lead
};

bool Listed(const std::vector<std::string>& values, const std::string& value) {
  for (const std::string& v : values)
    if (v == value) return true;
  return false;
}

struct UserRow {
  std::string id, name;
};

std::vector<UserRow> AllUsers(automation::Object& db) {
  std::vector<UserRow> users;
  auto rs = db.Call("GetUsersRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) users.push_back({FieldText(*rs, "UserId"), FieldText(*rs, "UserName")});
  return users;
}

std::vector<std::string> AllGroups(automation::Object& db) {
  std::vector<std::string> groups;
  auto rs = db.Call("GetGroupsRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) groups.push_back(FieldText(*rs, "GroupCode"));
  return groups;
}

std::string Cell(const std::string& html) { return "<td class=FormFields>" + html + "</td>"; }

// One row per user: member, override (on a stored project only: a new one has nobody to trust
// yet) and administrator boxes.
std::string MembersTable(const ProjectForm& p, const std::vector<UserRow>& users) {
  const bool stored = !p.image.empty();
  std::string out = "<table id=Members cellpadding=2><tr><td class=FormLabels>User</td><td class=FormLabels>Member</td>";
  if (stored) out += "<td class=FormLabels>Overrides workflow</td>";
  out += "<td class=FormLabels>Project administrator</td></tr>\r\n";
  for (const UserRow& u : users) {
    const std::string value = UrlComponent(u.id);
    out += "<tr>" + Cell(HtmlText(u.id) + " " + HtmlText(u.name)) +
           Cell(CheckBox("TeamMember", value, Listed(p.members, value)));
    if (stored) out += Cell(CheckBox("OverrideWorkflow", value, Listed(p.overrides, value)));
    out += Cell(CheckBox("ProjectAdmin", value, Listed(p.admins, value))) + "</tr>\r\n";
  }
  return out + "</table>";
}

// One row per group: its code (posted beside the lead, in the same order) and a choice of lead.
std::string LeadsTable(const ProjectForm& p, const std::vector<UserRow>& users, const std::vector<std::string>& groups) {
  std::vector<Option> leads{{"", "(none)"}};
  for (const UserRow& u : users) leads.push_back({UrlComponent(u.id), u.id});
  std::string out = "<table id=GroupLeads cellpadding=2><tr><td class=FormLabels>Group</td>"
                    "<td class=FormLabels>Lead</td></tr>\r\n";
  int n = 0;
  for (const std::string& code : groups) {
    const std::string value = UrlComponent(code);
    const auto lead = p.leads.find(value);
    out += "<tr>" + Cell(HtmlText(code) + Hidden("GroupCode", value)) +
           Cell(GridSelect("GroupLead", "GroupLead" + std::to_string(++n), leads,
                       lead == p.leads.end() ? std::string() : lead->second)) +
           "</tr>\r\n";
  }
  return out + "</table>";
}

void SendProject(PageContext& page, automation::Object& db, const ProjectForm& p, const std::string& message) {
  const bool stored = !p.image.empty();
  if (stored) page.SetProjectId(p.projectId);
  const std::vector<UserRow> users = AllUsers(db);
  const std::vector<std::string> groups = AllGroups(db);
  std::vector<Option> publicGroups{{"", ""}};
  for (const std::string& g : groups) publicGroups.push_back({g, g});
  std::string rows = Row("Project", stored ? "<span id=ProjectCode>" + HtmlText(p.code) + "</span>"
                                           : TextBox("ProjectCode", p.code, 50, 50));
  rows += Row("Description", TextArea("ProjectDescription", p.description, 4, 60));
  rows += Row("Public users may use it", CheckBox("PublicAccessible", "on", p.publicAccessible));
  rows += Row("Public users count as members of", Select("PublicMembersOfGroupCode", publicGroups, p.publicGroup));
  rows += Row("E-mail notifications", CheckBox("EMailEnabled", "on", p.emailEnabled));
  rows += Row("Members", MembersTable(p, users));
  rows += Row("Group leads", LeadsTable(p, users, groups));
  if (stored) {
    const std::string modules = page.Url("/Setup/ProjectModules.asp") + "?ProjectId=" + std::to_string(p.projectId);
    rows += Row("", "<a id=Modules href=\"" + HtmlAttribute(modules) + "\">Modules...</a>");
  }
  const std::string path = stored ? std::string(kEdit) + "?ProjectId=" + std::to_string(p.projectId) : std::string(kEdit);
  page.SendPage("Project", EditPage(page, "Project", path, message, rows, Hidden("rsProject", p.image)));
}

// The project the query names when the user may administer it; otherwise nothing, the answer sent
// (404 for no number, 403 for another's project).
std::optional<int32_t> AskedProject(PageContext& page, automation::Object& db) {
  const std::optional<int32_t> id = WholeNumber(page.Query("ProjectId"));
  if (!id) {
    page.SendPage("Project", Message("The project cannot be found."), 404);
  } else if (!AdministersProject(db, page.UserId(), *id)) {
    SendForbidden(page);
    return std::nullopt;
  }
  return id;
}

ProjectForm StoredProject(automation::Object& db, const ObjectPtr& stored) {
  automation::Object& rs = *stored;
  ProjectForm p;
  p.image = db.Call("rsToXml", {Variant(stored)}).ToString();
  p.projectId = FieldValue(rs, "ProjectId").ToLong();
  p.code = FieldText(rs, "ProjectCode");
  p.description = FieldText(rs, "ProjectDescription");
  p.publicGroup = FieldText(rs, "PublicMembersOfGroupCode");
  p.publicAccessible = FieldValue(rs, "PublicAccessible").ToBool();
  p.emailEnabled = FieldValue(rs, "EMailEnabled").ToBool();
  const Variant project(p.projectId);
  for (const UserRow& u : AllUsers(db)) {
    const Variant user(u.id);
    if (!db.Call("UserIsProjectMember", {user, project}).ToBool()) continue;
    const std::string value = UrlComponent(u.id);
    p.members.push_back(value);
    if (db.Call("UserCanOverrideWorkflow", {user, project}).ToBool()) p.overrides.push_back(value);
    if (db.Call("UserIsProjectAdmin", {user, project}).ToBool()) p.admins.push_back(value);
  }
  for (const std::string& code : AllGroups(db)) {
    const std::string lead = db.Call("ProjectGroupLead", {project, Variant(code)}).ToText();
    if (!lead.empty()) p.leads[UrlComponent(code)] = UrlComponent(lead);
  }
  return p;
}

void ProjectPage(PageContext& page) {
  auto db = page.Database();
  if (!RequireCanAdmin(page, *db)) return;
  if (page.Query("ProjectId").empty()) return SendProject(page, *db, ProjectForm{}, "");
  const std::optional<int32_t> id = AskedProject(page, *db);
  if (!id) return;
  auto rs = db->Call("GetProjectRs", {Variant(*id)}).ToObject();
  if (AtEnd(*rs)) return page.SendPage("Project", Message("The project cannot be found."), 404);
  SendProject(page, *db, StoredProject(*db, rs), "");
}

void ProjectPost(PageContext& page) {
  auto db = page.Database();
  if (!RequireCanAdmin(page, *db)) return;
  ProjectForm p;
  if (!page.Query("ProjectId").empty()) {
    const std::optional<int32_t> id = AskedProject(page, *db);
    if (!id) return;
    p.projectId = *id;
  }
  auto form = PostedForm(page);
  if (!form) return;
  p.image = page.Form("rsProject");
  p.code = page.Form("ProjectCode");
  p.description = page.Form("ProjectDescription");
  p.publicGroup = page.Form("PublicMembersOfGroupCode");
  p.publicAccessible = !page.Form("PublicAccessible").empty();
  p.emailEnabled = !page.Form("EMailEnabled").empty();
  p.members = page.FormValues("TeamMember");
  p.overrides = page.FormValues("OverrideWorkflow");
  p.admins = page.FormValues("ProjectAdmin");
  const std::vector<std::string> codes = page.FormValues("GroupCode"), leads = page.FormValues("GroupLead");
  for (size_t i = 0; i < codes.size() && i < leads.size(); ++i) p.leads[codes[i]] = leads[i];
  if (!p.image.empty()) {
    // The code is not posted: it cannot change. The stored one names the project again.
    auto rs = db->Call("GetProjectRs", {Variant(p.projectId)}).ToObject();
    if (!AtEnd(*rs)) p.code = FieldText(*rs, "ProjectCode");
  }
  const Variant user(page.UserId());
  std::string message;
  // The edit form (its path names the project) carries the stored row; only a new project's has none.
  ObjectPtr stored;
  if (!p.image.empty() || !page.Query("ProjectId").empty()) {
    stored = PostedImage(page, *db, "rsProject", message);
    if (!stored) {
      SendProject(page, *db, p, message);
      return Refused(page);
    }
  }
  const bool saved =
      !stored ? CallWriter(page, *db, "CreateProject", {user, Variant(form)}, kList, message)
              : CallWriter(page, *db, "UpdateProject", {user, Variant(stored), Variant(form)}, kList, message);
  if (!saved) SendProject(page, *db, p, message);
}

// The project's modules are its ProjectModules code table: the one the query names, else the
// user's default project when he administers it, else the first he administers.
void ProjectModulesPage(PageContext& page) {
  auto db = page.Database();
  if (!RequireCanAdmin(page, *db)) return;
  std::optional<int32_t> id = WholeNumber(page.Query("ProjectId"));
  if (id && !AdministersProject(*db, page.UserId(), *id)) return SendForbidden(page);
  if (!id) {
    auto user = db->Call("GetUserRs", {Variant(page.UserId())}).ToObject();
    const Variant d = AtEnd(*user) ? Variant() : FieldValue(*user, "DefaultProject");
    if (!d.IsEmpty() && !d.IsNull() && d.ToLong() != -1 && AdministersProject(*db, page.UserId(), d.ToLong()))
      id = d.ToLong();
  }
  if (!id) {
    auto projects = db->Call("GetUserAdminProjectsRs", {Variant(page.UserId())}).ToObject();
    if (!AtEnd(*projects)) id = FieldValue(*projects, "ProjectId").ToLong();
  }
  if (!id) return page.SendPage("Modules", Message("There is no project to show the modules of."), 404);
  page.Redirect(page.Url("/Setup/CustomCodes.asp?Table=ProjectModules&ProjectId=" + std::to_string(*id)));
}

AddPage projects(std::string(kList), {.get = ProjectsPage, .post = ProjectsPost});
AddPage project(std::string(kEdit), {.get = ProjectPage, .post = ProjectPost});
AddPage projectModules("/Setup/ProjectModules.asp", {.get = ProjectModulesPage});

}  // namespace

}  // namespace site

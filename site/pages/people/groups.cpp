// /Setup/Groups.asp and /Setup/Group.asp: the site's groups for a site administrator. The list
// ticks groups for DeleteGroup (by their codes as they are: that writer does not decode them); the
// group page adds a group (CreateGroup) or shows who belongs to one. A group has nothing to change
// but its members, which are set on each user's page.
#include <string>
#include <vector>

#include "automation/text.h"
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

constexpr std::string_view kList = "/Setup/Groups.asp";
constexpr std::string_view kEdit = "/Setup/Group.asp";

void SendGroups(PageContext& page, automation::Object& db, const std::string& message) {
  std::vector<ListRow> rows;
  auto rs = db.Call("GetGroupsRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string code = FieldText(*rs, "GroupCode");
    rows.push_back({code, page.Url(kEdit) + "?GroupCode=" + UrlComponent(code), code, {}});
  }
  const std::string table = ListTable("Groups", "chkGroup", {"Group"}, rows);
  page.SendPage("Groups", ListPage(page, "Groups", kList, message, table, kEdit, "New group..."));
}

void GroupsPage(PageContext& page) {
  auto db = page.Database();
  if (RequireSiteAdmin(page, *db)) SendGroups(page, *db, "");
}

void GroupsPost(PageContext& page) { DeleteTicked(page, "DeleteGroup", kList, SendGroups); }

void SendNewGroup(PageContext& page, const std::string& code, const std::string& message) {
  page.SendPage("Group", EditPage(page, "Group", kEdit, message, Row("Group", TextBox("GroupCode", code, 20, 20))));
}

// A stored group: its code and its members, each a link to the user's page.
void SendGroup(PageContext& page, automation::Object& db, const std::string& code) {
  std::string members;
  auto users = db.Call("GetUsersRs").ToObject();
  for (; !AtEnd(*users); users->Call("MoveNext")) {
    const std::string id = FieldText(*users, "UserId");
    if (!db.Call("UserInGroup", {Variant(id), Variant(code)}).ToBool()) continue;
    members += "<a class=Member href=\"" + HtmlAttribute(page.Url("/Setup/User.asp") + "?UserId=" + UrlComponent(id)) +
               "\">" + HtmlText(id) + "</a> " + HtmlText(FieldText(*users, "UserName")) + "<br>";
  }
  std::string body = "<span class=PageTitle>Group</span><br>\r\n<table cellpadding=2>\r\n" +
                     Row("Group", "<span id=GroupCode>" + HtmlText(code) + "</span>") +
                     Row("Members", members.empty() ? "(none)" : members) + "</table>\r\n<a id=Groups href=\"" +
                     HtmlAttribute(page.Url(kList)) + "\">Groups</a>\r\n";
  page.SendPage("Group", body);
}

void GroupPage(PageContext& page) {
  auto db = page.Database();
  if (!RequireSiteAdmin(page, *db)) return;
  const std::string asked = page.Query("GroupCode");
  if (asked.empty()) return SendNewGroup(page, "", "");
  auto rs = LookUp(asked, 20, [&] { return db->Call("GetGroupRs", {Variant(asked)}).ToObject(); });
  if (!rs) return page.SendPage("Group", Message("The group '" + asked + "' does not exist."), 404);
  SendGroup(page, *db, FieldText(*rs, "GroupCode"));
}

void GroupPost(PageContext& page) {
  auto db = page.Database();
  if (!RequireSiteAdmin(page, *db)) return;
  auto form = PostedForm(page);
  if (!form) return;
  std::string message;
  if (!CallWriter(page, *db, "CreateGroup", {Variant(page.UserId()), Variant(form)}, kList, message))
    SendNewGroup(page, page.Form("GroupCode"), message);
}

AddPage groups(std::string(kList), {.get = GroupsPage, .post = GroupsPost});
AddPage group(std::string(kEdit), {.get = GroupPage, .post = GroupPost});

}  // namespace

}  // namespace site

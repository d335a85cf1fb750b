// /Setup/Users.asp and /Setup/User.asp: the site's users for a site administrator. The list ticks
// users for DeleteUser; the edit page creates a user (CreateUser) or changes one through the row it
// was read as (UpdateUser), with the user's groups as check boxes. Passwords and the secret answer
// are never written into the page: a blank password keeps the stored one.
#include <algorithm>
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
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using namespace forms;

constexpr std::string_view kList = "/Setup/Users.asp";
constexpr std::string_view kEdit = "/Setup/User.asp";

std::string Roles(automation::Object& rs) {
  std::string roles;
  if (FieldValue(rs, "SiteAdministrator").ToBool()) roles = "Site administrator";
  if (FieldValue(rs, "PublicUser").ToBool()) roles += std::string(roles.empty() ? "" : ", ") + "Public user";
  return roles;
}

void SendUsers(PageContext& page, automation::Object& db, const std::string& message) {
  std::vector<ListRow> rows;
  auto rs = db.Call("GetUsersRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string id = FieldText(*rs, "UserId");
    rows.push_back({UrlComponent(id), page.Url(kEdit) + "?UserId=" + UrlComponent(id), id,
                    {FieldText(*rs, "UserName"), FieldText(*rs, "UserEMail"), Roles(*rs)}});
  }
  const std::string table = ListTable("Users", "chkUser", {"Id", "Name", "E-Mail", "Role"}, rows);
  page.SendPage("Users", ListPage(page, "Users", kList, message, table, kEdit, "New user..."));
}

void UsersPage(PageContext& page) {
  auto db = page.Database();
  if (RequireSiteAdmin(page, *db)) SendUsers(page, *db, "");
}

// The ticked users go, all or none; a refusal stands above the list.
void UsersPost(PageContext& page) { DeleteTicked(page, "DeleteUser", kList, SendUsers); }

// What the edit form shows: the stored user, or what was posted when the save was refused.
struct UserForm {
  std::string image;  // the stored row as read; "" for a new user
  std::string userId, name, email, question;
  bool siteAdministrator = false, publicUser = false, emailEnabled = true;
  std::vector<std::string> groups;  // the ticked groups, URL-encoded as their boxes post them
};

bool Ticked(const std::vector<std::string>& values, const std::string& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

void SendUser(PageContext& page, automation::Object& db, const UserForm& u, const std::string& message) {
  const bool isNew = u.image.empty();
  std::string rows =
      Row("Id", isNew ? TextBox("UserId", u.userId, 30, 50) : "<span id=UserId>" + HtmlText(u.userId) + "</span>");
  rows += Row("Name", TextBox("UserName", u.name, 50, 50));
  rows += Row("E-Mail", TextBox("UserEMail", u.email, 50, 50));
  rows += Row("Site administrator", CheckBox("SiteAdministrator", "on", u.siteAdministrator));
  rows += Row("Public user", CheckBox("PublicUser", "on", u.publicUser));
  rows += Row("E-mail notifications", CheckBox("EMailEnabled", "on", u.emailEnabled));
  rows += Row(isNew ? "Password" : "New password (blank keeps it)", PasswordBox("Password1"));
  rows += Row("Password again", PasswordBox("Password2"));
  rows += Row("Secret question", TextBox("SecretQuestion", u.question, 50, 50));
  rows += Row(isNew ? "Answer" : "New answer (blank keeps it)", TextBox("SecretQuestionAnswer", "", 50, 50));
  std::string groups;
  auto rs = db.Call("GetGroupsRs").ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string code = FieldText(*rs, "GroupCode");
    const std::string value = UrlComponent(code);
    groups += "<label>" + CheckBox("GroupCode", value, Ticked(u.groups, value)) + " " + HtmlText(code) + "</label><br>";
  }
  rows += Row("Groups", groups);
  const std::string path = isNew ? std::string(kEdit) : std::string(kEdit) + "?UserId=" + UrlComponent(u.userId);
  page.SendPage("User", EditPage(page, "User", path, message, rows, Hidden("rsUser", u.image)));
}

void UserPage(PageContext& page) {
  auto db = page.Database();
  if (!RequireSiteAdmin(page, *db)) return;
  UserForm u;
  const std::string asked = page.Query("UserId");
  if (!asked.empty()) {
    auto rs = LookUp(asked, 50, [&] { return db->Call("GetUserRs", {Variant(asked)}).ToObject(); });
    if (!rs)
      return page.SendPage("User", Message("The user '" + asked + "' does not exist."), 404);
    u.image = db->Call("rsToXml", {Variant(rs)}).ToString();
    u.userId = FieldText(*rs, "UserId");
    u.name = FieldText(*rs, "UserName");
    u.email = FieldText(*rs, "UserEMail");
    u.question = FieldText(*rs, "SecretQuestion");
    u.siteAdministrator = FieldValue(*rs, "SiteAdministrator").ToBool();
    u.publicUser = FieldValue(*rs, "PublicUser").ToBool();
    u.emailEnabled = FieldValue(*rs, "EMailEnabled").ToBool();
    auto groups = db->Call("GetUserGroupsRs", {Variant(u.userId)}).ToObject();
    for (; !AtEnd(*groups); groups->Call("MoveNext")) u.groups.push_back(UrlComponent(FieldText(*groups, "GroupCode")));
  }
  SendUser(page, *db, u, "");
}

// A new user when the form carries no stored row, else the change of the row it carries. A refusal
// shows the form again as it was posted (passwords and answer blank).
void UserPost(PageContext& page) {
  auto db = page.Database();
  if (!RequireSiteAdmin(page, *db)) return;
  auto form = PostedForm(page);
  if (!form) return;
  UserForm u;
  u.image = page.Form("rsUser");
  u.userId = u.image.empty() ? page.Form("UserId") : page.Query("UserId");
  u.name = page.Form("UserName");
  u.email = page.Form("UserEMail");
  u.question = page.Form("SecretQuestion");
  u.siteAdministrator = !page.Form("SiteAdministrator").empty();
  u.publicUser = !page.Form("PublicUser").empty();
  u.emailEnabled = !page.Form("EMailEnabled").empty();
  u.groups = page.FormValues("GroupCode");
  const Variant user(page.UserId());
  std::string message;
  // The edit form (its path names the user) carries the stored row; only a new user's has none.
  ObjectPtr stored;
  if (!u.image.empty() || !page.Query("UserId").empty()) {
    stored = PostedImage(page, *db, "rsUser", message);
    if (!stored) {
      SendUser(page, *db, u, message);
      return Refused(page);
    }
  }
  const bool saved = !stored ? CallWriter(page, *db, "CreateUser", {user, Variant(form)}, kList, message)
                             : CallWriter(page, *db, "UpdateUser", {user, Variant(stored), Variant(form)}, kList, message);
  if (!saved) SendUser(page, *db, u, message);
}

AddPage users(std::string(kList), {.get = UsersPage, .post = UsersPost});
AddPage user(std::string(kEdit), {.get = UserPage, .post = UserPost});

}  // namespace

}  // namespace site

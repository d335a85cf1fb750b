// /User/Personalize.asp and /User/PersonalizeSearch.asp: the signed-in user's settings of the
// issue lists. Personalize holds the My Issues settings (UpdatePersonalize), the release notes'
// page size (UpdatePersonalizeReleaseNotes) and the list of the user's layouts (DeleteLayout; each
// opens in the layout editor); each of its three forms posts on its own, named by "Settings" in
// the query. PersonalizeSearch holds the search list's page size (UpdatePersonalizeSearch).
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
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using namespace forms;

constexpr std::string_view kPath = "/User/Personalize.asp";
constexpr std::string_view kSearchPath = "/User/PersonalizeSearch.asp";
constexpr std::string_view kLayout = "/User/Layout.asp";
constexpr std::string_view kReleaseNotesForm = "ReleaseNotes", kLayoutsForm = "Layouts";

// The user's row as the forms show it.
struct Settings {
  std::string image;
  std::string myAssignmentNumIssues, defaultProject, defaultFilter, defaultLayout;
  std::string searchNumIssues, releaseNotesNumIssues;
};

std::optional<Settings> StoredSettings(automation::Object& db, const std::string& userId) {
  auto rs = db.Call("GetUserRs", {Variant(userId)}).ToObject();
  if (AtEnd(*rs)) return std::nullopt;
  Settings s;
  s.image = db.Call("rsToXml", {Variant(rs)}).ToString();
  s.myAssignmentNumIssues = FieldText(*rs, "MyAssignmentNumIssues");
  s.defaultProject = FieldText(*rs, "DefaultProject");
  if (s.defaultProject == "-1") s.defaultProject.clear();
  s.defaultFilter = FieldText(*rs, "DefaultFilter");
  s.defaultLayout = FieldText(*rs, "DefaultLayout");
  s.searchNumIssues = FieldText(*rs, "SearchNumIssues");
  s.releaseNotesNumIssues = FieldText(*rs, "ReleaseNotesNumIssues");
  return s;
}

// The rows of a reader from its first (some readers leave their last row current).
std::vector<Option> OptionsFromFirst(const ObjectPtr& rs, std::string_view value, std::string_view text) {
  if (!AtEnd(*rs) || !rs->Get("BOF").ToBool()) rs->Call("MoveFirst");
  return Options(*rs, value, text);
}

std::string MyIssuesRows(PageContext& page, automation::Object& db, const Settings& s) {
  const Variant user(page.UserId());
  std::vector<Option> projects{{"", "(none)"}};
  for (Option& o : OptionsFromFirst(db.Call("GetUserProjectsRs", {user}).ToObject(), "ProjectId", "ProjectCode"))
    projects.push_back(std::move(o));
  const auto filters =
      OptionsFromFirst(db.Call("GetUserFiltersRs", {Variant(-1), user}).ToObject(), "FilterId", "FilterName");
  const auto layouts = OptionsFromFirst(db.Call("GetSummaryLayoutsRs", {user}).ToObject(), "LayoutName", "LayoutName");
  return Row("Issues per page", TextBox("MyAssignmentNumIssues", s.myAssignmentNumIssues, 5, 5)) +
         Row("Default project", Select("DefaultProject", projects, s.defaultProject)) +
         Row("Default filter", Select("DefaultFilter", filters, s.defaultFilter)) +
         Row("Default layout", Select("DefaultLayout", layouts, s.defaultLayout));
}

std::string LayoutsTable(PageContext& page, automation::Object& db) {
  std::vector<ListRow> rows;
  auto rs = db.Call("GetSummaryLayoutsRs", {Variant(page.UserId())}).ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string name = FieldText(*rs, "LayoutName");
    rows.push_back({UrlComponent(name), page.Url(kLayout) + "?LayoutName=" + UrlComponent(name), name,
                    {FieldText(*rs, "NumRows")}});
  }
  return ListTable("Layouts", "chkLayout", {"Layout", "Rows"}, rows);
}

// The page with the sentence of the form that was refused (`posted`: "" for My Issues).
void SendSettings(PageContext& page, automation::Object& db, const Settings& s, std::string_view posted,
                  const std::string& message) {
  auto said = [&](std::string_view form) { return posted == form ? message : std::string(); };
  const std::string releaseNotes =
      Message(said(kReleaseNotesForm)) + Hidden("rsUser", s.image) + "<table cellpadding=2>\r\n" +
      Row("Issues per page", TextBox("ReleaseNotesNumIssues", s.releaseNotesNumIssues, 5, 5)) +
      "</table>\r\n<input type=submit id=cmdSaveReleaseNotes value=\"Save\">\r\n";
  const std::string body =
      EditPage(page, "My Issues settings", kPath, said(""), MyIssuesRows(page, db, s), Hidden("rsUser", s.image)) +
      "<br><span class=PageTitle>Release notes settings</span><br>\r\n" +
      PostForm(page, "fReleaseNotes", std::string(kPath) + "?Settings=" + std::string(kReleaseNotesForm), releaseNotes) +
      "<br>" +
      ListPage(page, "Layouts", std::string(kPath) + "?Settings=" + std::string(kLayoutsForm), said(kLayoutsForm),
               LayoutsTable(page, db), kLayout, "New layout...");
  page.SendPage("Settings", body);
}

void PersonalizePage(PageContext& page) {
  auto db = page.Database();
  const std::optional<Settings> s = StoredSettings(*db, page.UserId());
  if (!s) return page.SendPage("Settings", Message("Your user cannot be found."), 404);
  SendSettings(page, *db, *s, "", "");
}

// The posted form's values stand in the form again after a refusal, and every form carries the
// row as that form was read: a refusal for a row changed meanwhile stands until the page is
// opened again.
void PersonalizePost(PageContext& page) {
  auto db = page.Database();
  auto form = PostedForm(page);
  if (!form) return;
  std::optional<Settings> s = StoredSettings(*db, page.UserId());
  if (!s) return page.SendPage("Settings", Message("Your user cannot be found."), 404);
  const std::string which = page.Query("Settings");
  const Variant user(page.UserId());
  std::string message;
  if (which == kLayoutsForm) {
    if (!CallWriter(page, *db, "DeleteLayout", {user, Variant(form)}, kPath, message))
      SendSettings(page, *db, *s, which, message);
    return;
  }
  s->image = page.Form("rsUser");
  const ObjectPtr stored = PostedImage(page, *db, "rsUser", message);
  const Variant rs(stored);
  if (which == kReleaseNotesForm) {
    s->releaseNotesNumIssues = page.Form("ReleaseNotesNumIssues");
    if (!stored) {
      SendSettings(page, *db, *s, which, message);
      return Refused(page);
    }
    if (!CallWriter(page, *db, "UpdatePersonalizeReleaseNotes", {user, rs, Variant(form)}, "/Reports/ReleaseNotes.asp",
                    message))
      SendSettings(page, *db, *s, which, message);
    return;
  }
  s->myAssignmentNumIssues = page.Form("MyAssignmentNumIssues");
  s->defaultProject = page.Form("DefaultProject");
  s->defaultFilter = page.Form("DefaultFilter");
  s->defaultLayout = page.Form("DefaultLayout");
  if (!stored) {
    SendSettings(page, *db, *s, "", message);
    return Refused(page);
  }
  if (!CallWriter(page, *db, "UpdatePersonalize", {user, rs, Variant(form)}, "/Assignments/MyAssignments.asp", message))
    SendSettings(page, *db, *s, "", message);
}

void SendSearchSettings(PageContext& page, const std::string& image, const std::string& perPage,
                        const std::string& message) {
  page.SendPage("Search settings",
                EditPage(page, "Search settings", kSearchPath, message,
                         Row("Issues per page", TextBox("SearchNumIssues", perPage, 5, 5)), Hidden("rsUser", image)));
}

void PersonalizeSearchPage(PageContext& page) {
  auto db = page.Database();
  const std::optional<Settings> s = StoredSettings(*db, page.UserId());
  if (!s) return page.SendPage("Search settings", Message("Your user cannot be found."), 404);
  SendSearchSettings(page, s->image, s->searchNumIssues, "");
}

void PersonalizeSearchPost(PageContext& page) {
  auto db = page.Database();
  auto form = PostedForm(page);
  if (!form) return;
  const std::string image = page.Form("rsUser");
  std::string message;
  const ObjectPtr stored = PostedImage(page, *db, "rsUser", message);
  if (!stored) {
    SendSearchSettings(page, image, page.Form("SearchNumIssues"), message);
    return Refused(page);
  }
  if (!CallWriter(page, *db, "UpdatePersonalizeSearch", {Variant(page.UserId()), Variant(stored), Variant(form)},
                  "/Search/Search.asp", message))
    SendSearchSettings(page, image, page.Form("SearchNumIssues"), message);
}

AddPage personalize(std::string(kPath), {.get = PersonalizePage, .post = PersonalizePost});
AddPage personalizeSearch(std::string(kSearchPath), {.get = PersonalizeSearchPage, .post = PersonalizeSearchPost});

}  // namespace

}  // namespace site

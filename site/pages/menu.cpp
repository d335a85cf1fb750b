// The menu of every signed-in page: Brisquel.MenuSystem told about the request, the user's rights
// and the addresses of the page's own download and printer-friendly variants.
#include "site/host.h"
#include "site/pages/records.h"

namespace site {

namespace {

using automation::Variant;

// "/A.asp" followed by the page's own query, when it has one.
std::string WithQuery(std::string path, std::string_view query) {
  if (!query.empty()) path += "?" + std::string(query);
  return path;
}

// The project the Projects group's code tables open in: the page's, the one the query names, the
// user's default, or the first one open to the user.
int32_t MenuProject(PageContext& page, automation::Object& db) {
  if (auto id = page.ProjectId()) return *id;
  if (auto id = WholeNumber(page.Query("ProjectId"))) return *id;
  auto user = db.Call("GetUserRs", {Variant(page.UserId())}).ToObject();
  if (!AtEnd(*user)) {
    const Variant d = FieldValue(*user, "DefaultProject");
    if (!d.IsNull() && d.ToLong() != -1) return d.ToLong();
  }
  auto projects = db.Call("GetUserProjectsRs", {Variant(page.UserId())}).ToObject();
  return AtEnd(*projects) ? -1 : FieldValue(*projects, "ProjectId").ToLong();
}

// The block addresses. The menu maps the three list addresses under the root itself; the issue and
// release-notes addresses it writes as they are, so they carry the root here.
void PutBlockUrls(PageContext& page, automation::Object& menu, std::string_view query) {
  menu.Put("IssuesDownloadUrl", Variant(WithQuery("/Assignments/MyAssignmentsDownload.asp", query)));
  menu.Put("IssuesPrinterFriendlyUrl", Variant(WithQuery("/Assignments/MyAssignmentsPrinterFriendly.asp", query)));
  menu.Put("SearchDownloadUrl", Variant(WithQuery("/Search/SearchDownload.asp", query)));
  menu.Put("SearchPrinterFriendlyUrl", Variant(WithQuery("/Search/SearchPrinterFriendly.asp", query)));
  const std::string more = query.empty() ? std::string() : "&" + std::string(query);
  menu.Put("ReleaseNotesDownloadAddressedUrl",
           Variant(page.Url("/Reports/ReleaseNotesDownload.asp?Kind=fixed" + more)));
  menu.Put("ReleaseNotesDownloadKnownUrl", Variant(page.Url("/Reports/ReleaseNotesDownload.asp?Kind=known" + more)));
  menu.Put("ReleaseNotesPrinterUrl", Variant(page.Url(WithQuery("/Reports/ReleaseNotesPrinterFriendly.asp", query))));
  // Only an existing issue has a printer-friendly page.
  if (auto issueId = WholeNumber(page.Query("IssueId")))
    menu.Put("IssuePrinterFriendlyUrl",
             Variant(page.Url("/Issues/IssuePrinterFriendly.asp?IssueId=" + std::to_string(*issueId))));
}

std::string WriteMenu(PageContext& page) {
  const std::string query(QueryOf(page.Target()));
  auto db = page.Database();
  const Variant user(page.UserId());
  auto menu = page.Create("Brisquel.MenuSystem");
  // The host and root go first: RequestURL is mapped as it is put.
  menu->Put("MetaDataPath", Variant("/LM/W3SVC/1/Root" + page.SiteHost().Options().root));
  menu->Put("InstanceMetaDataPath", Variant("/LM/W3SVC/1"));
  menu->Put("HttpHost", Variant(page.Header("Host")));
  menu->Put("RequestURL", Variant(page.Path()));
  menu->Put("RequestScriptName", Variant(page.Path()));
  menu->Put("RequestQueryString", Variant(query));
  menu->Put("RequestTableName", Variant(page.Query("Table")));
  menu->Put("UserIsSiteAdmin", db->Call("UserIsSiteAdmin", {user}));
  menu->Put("UserCanAdmin", db->Call("UserCanAdmin", {user}));
  PutBlockUrls(page, *menu, query);
  return menu->Call("Menu", {Variant(db), user, Variant(MenuProject(page, *db))}).ToString();
}

const bool registered = [] {
  SetMenuWriter(WriteMenu);
  return true;
}();

}  // namespace

}  // namespace site

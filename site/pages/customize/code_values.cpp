// /Setup/CustomCodes.asp?Table=T[&ProjectId=N] and /Setup/CustomCode.asp?Table=T[&ProjectId=N][&Code=C]:
// the values of one code table, the site's list or one project's. Site administrators keep every
// table; a project administrator keeps the per-project tables of his own projects. The table's name
// stays in every address, so the menu opens the group the table belongs to.
#include <optional>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/customize/customize.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/request.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::UrlComponent;

constexpr std::string_view kListPath = "/Setup/CustomCodes.asp";
constexpr std::string_view kEditPath = "/Setup/CustomCode.asp";

// The list a page works on: a code table, and the project for a per-project table.
struct Scope {
  customize::CodeTable table;
  int32_t projectId = 0;
  std::string projectCode;
  std::string Query() const {
    std::string q = "?Table=" + UrlComponent(table.name);
    if (table.variesByProject) q += "&ProjectId=" + std::to_string(projectId);
    return q;
  }
  std::string Title(std::string_view name) const {
    return table.variesByProject ? std::string(name) + " - " + projectCode : std::string(name);
  }
};

// The table and project the query names when the user may keep them; otherwise the page has
// answered: 404 for a site administrator, who could keep them if they were there, else 403.
std::optional<Scope> OpenScope(PageContext& page) {
  auto db = page.Database();
  const Variant user(page.UserId());
  const bool siteAdmin = db->Call("UserIsSiteAdmin", {user}).ToBool();
  auto refuse = [&](const std::string& sentence) {
    if (siteAdmin) {
      customize::SendNotFound(page, "Code table", sentence);
    } else {
      forms::SendForbidden(page);
    }
    return std::nullopt;
  };
  const std::string name = page.Query("Table");
  std::optional<customize::CodeTable> table = customize::FindCodeTable(page, name);
  if (!table) return refuse("The code table '" + name + "' does not exist.");
  Scope s{*table, 0, ""};
  if (table->variesByProject) {
    const std::optional<int32_t> id = WholeNumber(page.Query("ProjectId"));
    auto project = id ? db->Call("GetProjectRs", {Variant(*id)}).ToObject() : nullptr;
    if (!project || AtEnd(*project)) return refuse("The project cannot be found.");
    s.projectId = *id;
    s.projectCode = FieldText(*project, "ProjectCode");
    page.SetProjectId(*id);
  }
  if (!siteAdmin && !(table->variesByProject && db->Call("UserIsProjectAdmin", {user, Variant(s.projectId)}).ToBool())) {
    forms::SendForbidden(page);
    return std::nullopt;
  }
  return s;
}

// A value's text in a list; the blank value has a name of its own.
std::string Shown(const std::string& code) { return code.empty() ? "<Blank>" : code; }

void SendValues(PageContext& page, const Scope& s, const std::string& message) {
  auto rs = page.Database()
                ->Call("GetCodesRs", {Variant(page.UserId()), Variant(s.table.name), Variant(s.projectId)})
                .ToObject();
  std::vector<forms::ListRow> rows;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string code = FieldText(*rs, s.table.valueColumn);
    // An empty box value is no entry: the blank value is ticked as a blank.
    forms::ListRow row{UrlComponent(code.empty() ? std::string(" ") : code),
                       page.Url(std::string(kEditPath) + s.Query() + "&Code=" + UrlComponent(code)), Shown(code), {}};
    if (s.table.sortColumn) row.cells.push_back(FieldText(*rs, "SortOrder"));
    rows.push_back(std::move(row));
  }
  std::vector<std::string> headings{s.table.singular};
  if (s.table.sortColumn) headings.push_back("Sort order");
  const std::string table = forms::ListTable("Codes", "chkCode", headings, rows);
  page.SendPage(s.Title(s.table.plural),
                forms::ListPage(page, s.Title(s.table.plural), std::string(kListPath) + s.Query(), message, table,
                                std::string(kEditPath) + s.Query(),
                                "New " + automation::LowerAscii(s.table.singular) + "..."));
}

// A project's table asked for without a project (the menu's link before a project is chosen): the
// projects the user administers, each a link to its own values.
bool SentProjectChoice(PageContext& page) {
  const std::optional<customize::CodeTable> table = customize::FindCodeTable(page, page.Query("Table"));
  const std::optional<int32_t> id = WholeNumber(page.Query("ProjectId"));
  if (!table || !table->variesByProject || (id && *id != -1)) return false;
  auto db = page.Database();
  if (!forms::RequireCanAdmin(page, *db)) return true;
  std::string links;
  auto rs = db->Call("GetUserAdminProjectsRs", {Variant(page.UserId())}).ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext"))
    links += "<li><a href=\"" +
             brisquel::encode::HtmlAttribute(page.Url(std::string(kListPath) + "?Table=" + UrlComponent(table->name) +
                                                      "&ProjectId=" + FieldText(*rs, "ProjectId"))) +
             "\">" + brisquel::encode::HtmlText(FieldText(*rs, "ProjectCode")) + "</a></li>\r\n";
  page.SendPage(table->plural, "<span class=PageTitle>" + brisquel::encode::HtmlText(table->plural) +
                                   "</span><br>\r\n<p class=FormFields>Choose a project:</p>\r\n<ul id=Projects>\r\n" +
                                   links + "</ul>\r\n");
  return true;
}

void CodesPage(PageContext& page) {
  if (SentProjectChoice(page)) return;
  if (auto s = OpenScope(page)) SendValues(page, *s, "");
}

// The ticked values go, all or none.
void CodesPost(PageContext& page) {
  std::optional<Scope> s = OpenScope(page);
  if (!s) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  std::string message;
  auto db = page.Database();
  if (!forms::CallWriter(page, *db, "DeleteCodeTableValue",
                         {Variant(page.UserId()), Variant(s->table.name), Variant(s->projectId), Variant(form)},
                         std::string(kListPath) + s->Query(), message))
    SendValues(page, *s, message);
}

// What the edit form shows: the stored value, or what was posted when it was refused.
struct ValueForm {
  std::optional<std::string> original;  // the value the page was opened for; none for a new one
  std::string code, sortOrder = "0";
  std::string image;  // the stored row as read, for UpdateCodeTableValue
};

void SendValue(PageContext& page, const Scope& s, const ValueForm& v, const std::string& message) {
  std::string rows = forms::Row(s.table.singular, forms::TextBox("CodeValue", v.code, 30, 50));
  if (s.table.sortColumn) rows += forms::Row("Sort order", forms::TextBox("SortOrder", v.sortOrder, 6));
  std::string hidden = forms::Hidden("TableName", s.table.name) + forms::Hidden("rsValue", v.image);
  if (s.table.variesByProject) hidden += forms::Hidden("ProjectId", std::to_string(s.projectId));
  std::string path = std::string(kEditPath) + s.Query();
  if (v.original) path += "&Code=" + UrlComponent(*v.original);
  const std::string title =
      s.Title(v.original ? s.table.singular : "New " + automation::LowerAscii(s.table.singular));
  page.SendPage(title, forms::EditPage(page, title, path, message, rows, hidden));
}

// Whether the query names a value: the blank value is named by an empty Code.
std::optional<std::string> AskedCode(PageContext& page) {
  return FirstValue(ParseUrlEncoded(QueryOf(page.Target())), "Code");
}

void CodePage(PageContext& page) {
  std::optional<Scope> s = OpenScope(page);
  if (!s) return;
  ValueForm v;
  v.original = AskedCode(page);
  if (v.original) {
    auto db = page.Database();
    auto rs = LookUp(*v.original, 50, [&] {
      return db->Call("GetCodeRs", {Variant(page.UserId()), Variant(s->table.name), Variant(s->projectId),
                                    Variant(*v.original)})
          .ToObject();
    });
    if (!rs)
      return customize::SendNotFound(page, s->table.singular, "The value '" + *v.original + "' does not exist.");
    v.code = FieldText(*rs, s->table.valueColumn);
    if (s->table.sortColumn) v.sortOrder = FieldText(*rs, "SortOrder");
    v.image = db->Call("rsToXml", {Variant(rs)}).ToString();
  }
  SendValue(page, *s, v, "");
}

// A new value is inserted; a stored one is written back through the row it was read as, and a
// rename carries every issue along.
void CodePost(PageContext& page) {
  std::optional<Scope> s = OpenScope(page);
  if (!s) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  ValueForm v{AskedCode(page), page.Form("CodeValue"), page.Form("SortOrder"), page.Form("rsValue")};
  auto db = page.Database();
  const Variant user(page.UserId());
  std::string message;
  const std::string done = std::string(kListPath) + s->Query();
  // The edit form (its path names the value) carries the stored row; only a new value's has none.
  forms::ObjectPtr stored;
  if (!v.image.empty() || v.original) {
    stored = forms::PostedImage(page, *db, "rsValue", message);
    if (!stored) {
      SendValue(page, *s, v, message);
      return forms::Refused(page);
    }
  }
  const bool saved =
      !stored ? forms::CallWriter(page, *db, "CreateCodeTableValue", {user, Variant(form)}, done, message)
              : forms::CallWriter(page, *db, "UpdateCodeTableValue", {user, Variant(stored), Variant(form)}, done,
                                  message);
  if (!saved) SendValue(page, *s, v, message);
}

AddPage codes(std::string(kListPath), {.get = CodesPage, .post = CodesPost});
AddPage code(std::string(kEditPath), {.get = CodePage, .post = CodePost});

}  // namespace

}  // namespace site

// /Setup/SiteCustomCodes.asp and /Setup/SiteCustomCode.asp[?Table=T]: the code tables of the site,
// each a list of values that issue fields offer, kept for the whole site or for each project.
// Site administrators only; a table's values have pages of their own (CustomCodes.asp).
#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/customize/customize.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::UrlComponent;

constexpr std::string_view kListPath = "/Setup/SiteCustomCodes.asp";
constexpr std::string_view kEditPath = "/Setup/SiteCustomCode.asp";

bool SiteAdmin(PageContext& page) { return forms::RequireSiteAdmin(page, *page.Database()); }

void SendTables(PageContext& page, const std::string& message) {
  std::vector<forms::ListRow> rows;
  for (const customize::CodeTable& t : customize::CodeTables(page))
    rows.push_back({UrlComponent(t.name), page.Url(std::string(kEditPath) + "?Table=" + UrlComponent(t.name)),
                    t.plural,
                    {t.name, t.variesByProject ? "Each project" : "The site", t.sortColumn ? "Sort order" : "Value"}});
  const std::string table =
      forms::ListTable("CodeTables", "chkTable", {"Code table", "Table name", "Values kept for", "Sorted by"}, rows);
  page.SendPage("Code Tables",
                forms::ListPage(page, "Code Tables", kListPath, message, table, kEditPath, "New code table..."));
}

void TablesPage(PageContext& page) {
  if (SiteAdmin(page)) SendTables(page, "");
}

// The ticked tables go, all or none.
void TablesPost(PageContext& page) {
  if (!SiteAdmin(page)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  std::string message;
  if (!forms::CallWriter(page, *page.Database(), "DeleteCodeTable", {Variant(page.UserId()), Variant(form)},
                         kListPath, message))
    SendTables(page, message);
}

// What the edit form shows: the catalogue row, or what was posted when it was refused. The two
// boxes are "on" or "".
struct TableForm {
  std::string name, variesByProject, plural, singular, purpose, sortOrder = "ASC", naturalSort, valueColumn;
  std::string image;  // the stored row as read, for UpdateCodeTable; "" for a new table
};

TableForm Posted(PageContext& page) {
  return {page.Form("TableName"),        page.Form("VariesByProject"),       page.Form("TableFriendlyName"),
          page.Form("TableFriendlyNameSingular"), page.Form("TablePurpose"), page.Form("TableDefaultSortOrder"),
          page.Form("NaturalSort"),      page.Form("TableFieldName"),        page.Form("rsCodeTable")};
}

bool On(const std::string& box) { return automation::EqualsNoCase(box, "on"); }

// A stored table keeps its name and its kind; only a new one names them.
void SendTable(PageContext& page, const TableForm& t, const std::string& message) {
  const bool stored = !t.image.empty();
  std::string rows;
  if (stored) {
    rows += forms::Row("Table name", brisquel::encode::HtmlText(t.name));
    rows += forms::Row("Separate entries for each project", On(t.variesByProject) ? "Yes" : "No");
  } else {
    rows += forms::Row("Table name", forms::TextBox("TableName", t.name, 40, 40));
    rows += forms::Row("Separate entries for each project", forms::CheckBox("VariesByProject", "on", On(t.variesByProject)));
  }
  rows += forms::Row("Name (plural)", forms::TextBox("TableFriendlyName", t.plural, 40, 50));
  rows += forms::Row("Name (singular)", forms::TextBox("TableFriendlyNameSingular", t.singular, 40, 50));
  rows += forms::Row("Purpose", forms::TextBox("TablePurpose", t.purpose, 60, 200));
  rows += forms::Row("Value field name", forms::TextBox("TableFieldName", t.valueColumn, 40, 50));
  rows += forms::Row("Default sort order",
                     forms::Select("TableDefaultSortOrder", {{"ASC", "Ascending"}, {"DESC", "Descending"}},
                                   automation::EqualsNoCase(t.sortOrder, "DESC") ? "DESC" : "ASC"));
  rows += forms::Row("Requires a separate sort order field", forms::CheckBox("NaturalSort", "on", On(t.naturalSort)));
  std::string path(kEditPath);
  if (stored) path += "?Table=" + UrlComponent(t.name);
  const std::string title = stored ? "Code table " + t.name : "New code table";
  page.SendPage(title, forms::EditPage(page, title, path, message, rows, forms::Hidden("rsCodeTable", t.image)));
}

void TablePage(PageContext& page) {
  if (!SiteAdmin(page)) return;
  TableForm t;
  const std::string asked = page.Query("Table");
  if (!asked.empty()) {
    std::optional<customize::CodeTable> found = customize::FindCodeTable(page, asked);
    if (!found) return customize::SendNotFound(page, "Code table", "The code table '" + asked + "' does not exist.");
    auto db = page.Database();
    auto rs = db->Call("GetIssueCodeTableRs", {Variant(page.UserId()), Variant(found->name)}).ToObject();
    t = {found->name, found->variesByProject ? "on" : "", found->plural, found->singular,
         FieldText(*rs, "TablePurpose"), FieldText(*rs, "TableDefaultSortOrder"), found->sortColumn ? "on" : "",
         found->valueColumn, db->Call("rsToXml", {Variant(rs)}).ToString()};
  }
  SendTable(page, t, "");
}

void TablePost(PageContext& page) {
  if (!SiteAdmin(page)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  TableForm t = Posted(page);
  auto db = page.Database();
  const Variant user(page.UserId());
  std::string message;
  bool saved = false;
  // The edit form (its path names the table) carries the stored row; only a new table's has none.
  if (t.image.empty() && page.Query("Table").empty()) {
    saved = forms::CallWriter(page, *db, "CreateCodeTable", {user, Variant(form)}, kListPath, message);
  } else {
    auto rs = forms::PostedImage(page, *db, "rsCodeTable", message);
    if (!rs) {
      SendTable(page, t, message);
      return forms::Refused(page);
    }
    // The name and kind are the stored table's, not the form's.
    std::optional<customize::CodeTable> stored = customize::FindCodeTable(page, page.Query("Table"));
    if (stored) {
      t.name = stored->name;
      t.variesByProject = stored->variesByProject ? "on" : "";
    }
    saved = forms::CallWriter(page, *db, "UpdateCodeTable", {user, Variant(rs), Variant(form)}, kListPath, message);
  }
  if (!saved) SendTable(page, t, message);
}

AddPage tables(std::string(kListPath), {.get = TablesPage, .post = TablesPost});
AddPage table(std::string(kEditPath), {.get = TablePage, .post = TablePost});

}  // namespace

}  // namespace site

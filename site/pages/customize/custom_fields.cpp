// /Setup/SiteCustomFields.asp and /Setup/SiteCustomField.asp[?FieldName=F]: the fields of the issue
// form. A new field is a text (one line, several lines, or a log of entries), a list of a code
// table's values or a check box; a stored field keeps its name and kind, and its caption,
// description and, for text, its size change. Site administrators only.
#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/customize/customize.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::EqualsNoCase;
using automation::Variant;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

constexpr std::string_view kListPath = "/Setup/SiteCustomFields.asp";
constexpr std::string_view kEditPath = "/Setup/SiteCustomField.asp";

bool SiteAdmin(PageContext& page) { return forms::RequireSiteAdmin(page, *page.Database()); }

// A field's kind as the list and the edit form name it.
std::string KindText(const std::string& representation, const std::string& size, const std::string& table) {
  if (EqualsNoCase(representation, "text")) return "Text, " + size + " characters";
  if (EqualsNoCase(representation, "multiline")) return "Text of several lines, " + size + " characters";
  if (EqualsNoCase(representation, "comments")) return "Log of entries";
  if (EqualsNoCase(representation, "combo")) return "List: " + table;
  if (EqualsNoCase(representation, "checkbox")) return "Check box";
  if (EqualsNoCase(representation, "number")) return "Number";
  if (EqualsNoCase(representation, "date")) return "Date";
  return representation;
}

// The kind a stored field is posted as: "1" for the text kinds, "2" a list, "3" a check box.
std::string FieldType(const std::string& representation) {
  for (const char* text : {"text", "multiline", "comments"})
    if (EqualsNoCase(representation, text)) return "1";
  if (EqualsNoCase(representation, "combo")) return "2";
  if (EqualsNoCase(representation, "checkbox")) return "3";
  return "";
}

void SendFields(PageContext& page, const std::string& message) {
  auto rs = page.Database()->Call("GetIssueFieldsRs", {Variant(page.UserId())}).ToObject();
  std::vector<forms::ListRow> rows;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string name = FieldText(*rs, "FieldName");
    if (name.empty()) continue;  // the empty cell of the layouts
    rows.push_back({UrlComponent(name), page.Url(std::string(kEditPath) + "?FieldName=" + UrlComponent(name)),
                    FieldText(*rs, "FieldFriendlyName"),
                    {name, KindText(FieldText(*rs, "Representation"), FieldText(*rs, "TextMaxLength"),
                                    FieldText(*rs, "TableName"))}});
  }
  const std::string table = forms::ListTable("Fields", "chkField", {"Field", "Name", "Kind"}, rows);
  page.SendPage("Issue Fields",
                forms::ListPage(page, "Issue Fields", kListPath, message, table, kEditPath, "New field..."));
}

void FieldsPage(PageContext& page) {
  if (SiteAdmin(page)) SendFields(page, "");
}

// The ticked fields go with their columns, all or none.
void FieldsPost(PageContext& page) {
  if (!SiteAdmin(page)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  std::string message;
  if (!forms::CallWriter(page, *page.Database(), "DeleteCustomField", {Variant(page.UserId()), Variant(form)},
                         kListPath, message))
    SendFields(page, message);
}

// What the edit form shows: the stored field, or what was posted when it was refused.
struct FieldForm {
  std::string name, caption, description, type = "1", numLines = "1", maxLength = "50", textLog, customTable;
  // A stored field: its kind as stored, its list, and its row as read (for UpdateCustomField).
  std::string representation, storedSize, tableName, image;
  bool Stored() const { return !image.empty(); }
};

std::string CodeTableBox(PageContext& page, const std::string& selected) {
  std::vector<forms::Option> options{{"", ""}};
  for (const customize::CodeTable& t : customize::CodeTables(page)) options.push_back({t.name, t.plural});
  return forms::Select("CustomTable", options, selected);
}

std::string NewFieldRows(PageContext& page, const FieldForm& f) {
  return forms::Row("Field name", forms::TextBox("FieldName", f.name, 20, 20)) +
         forms::Row("Caption", forms::TextBox("FieldFriendlyName", f.caption, 40, 50)) +
         forms::Row("Description", forms::TextBox("TooltipForFilter", f.description, 60, 200)) +
         forms::Row("Data type", forms::Select("FieldType",
                                               {{"1", "Text"}, {"2", "List of a code table's values"}, {"3", "Check box"}},
                                               f.type)) +
         forms::Row("Number of lines (text)", forms::TextBox("NumLines", f.numLines, 4)) +
         forms::Row("Maximum size (text)", forms::TextBox("TextMaxLength", f.maxLength, 6)) +
         forms::Row("Keep a log of entries (text)", forms::CheckBox("TextLog", "on", EqualsNoCase(f.textLog, "on"))) +
         forms::Row("Code table (list)", CodeTableBox(page, f.customTable));
}

std::string StoredFieldRows(const FieldForm& f) {
  std::string rows = forms::Row("Field name", HtmlText(f.name)) +
                     forms::Row("Data type", HtmlText(KindText(f.representation, f.storedSize, f.tableName))) +
                     forms::Row("Caption", forms::TextBox("FieldFriendlyName", f.caption, 40, 50)) +
                     forms::Row("Description", forms::TextBox("TooltipForFilter", f.description, 60, 200));
  if (f.type == "1")
    rows += forms::Row("Number of lines", forms::TextBox("NumLines", f.numLines, 4)) +
            forms::Row("Maximum size", forms::TextBox("TextMaxLength", f.maxLength, 6));
  return rows;
}

void SendField(PageContext& page, const FieldForm& f, const std::string& message) {
  std::string path(kEditPath);
  std::string hidden = forms::Hidden("rsField", f.image);
  if (f.Stored()) {
    path += "?FieldName=" + UrlComponent(f.name);
    hidden += forms::Hidden("FieldType", f.type);
    if (EqualsNoCase(f.representation, "comments")) hidden += forms::Hidden("TextLog", "on");
  }
  const std::string title = f.Stored() ? "Field " + f.name : "New field";
  page.SendPage(title, forms::EditPage(page, title, path, message, f.Stored() ? StoredFieldRows(f) : NewFieldRows(page, f),
                                       hidden));
}

// The stored field of the query, with its row as read; none when there is no such field.
std::optional<FieldForm> StoredField(PageContext& page, const std::string& name) {
  if (name.empty()) return std::nullopt;
  auto db = page.Database();
  auto rs = LookUp(name, 20, [&] { return db->Call("GetIssueFieldRs", {Variant(name)}).ToObject(); });
  if (!rs) return std::nullopt;
  FieldForm f;
  f.name = FieldText(*rs, "FieldName");
  f.caption = FieldText(*rs, "FieldFriendlyName");
  f.description = FieldText(*rs, "TooltipForFilter");
  f.representation = FieldText(*rs, "Representation");
  f.type = FieldType(f.representation);
  f.numLines = FieldText(*rs, "NumLines");
  f.maxLength = f.storedSize = FieldText(*rs, "TextMaxLength");
  f.tableName = FieldText(*rs, "TableName");
  f.image = db->Call("rsToXml", {Variant(rs)}).ToString();
  return f;
}

void FieldPage(PageContext& page) {
  if (!SiteAdmin(page)) return;
  const std::string asked = page.Query("FieldName");
  if (asked.empty()) return SendField(page, FieldForm{}, "");
  std::optional<FieldForm> f = StoredField(page, asked);
  if (!f) return customize::SendNotFound(page, "Field", "The field '" + asked + "' does not exist.");
  SendField(page, *f, "");
}

void FieldPost(PageContext& page) {
  if (!SiteAdmin(page)) return;
  auto form = forms::PostedForm(page);
  if (!form) return;
  auto db = page.Database();
  const Variant user(page.UserId());
  const std::string image = page.Form("rsField");
  FieldForm f;
  if (!image.empty()) {
    // The name and kind are the stored field's; what can change comes from the form.
    std::optional<FieldForm> stored = StoredField(page, page.Query("FieldName"));
    if (stored) f = *stored;
  }
  f.image = image;
  f.caption = page.Form("FieldFriendlyName");
  f.description = page.Form("TooltipForFilter");
  f.numLines = page.Form("NumLines");
  f.maxLength = page.Form("TextMaxLength");
  if (image.empty()) {
    f.name = page.Form("FieldName");
    f.type = page.Form("FieldType");
    f.textLog = page.Form("TextLog");
    f.customTable = page.Form("CustomTable");
  }
  std::string message;
  // The edit form (its path names the field) carries the stored row; only a new field's has none.
  forms::ObjectPtr stored;
  if (!image.empty() || !page.Query("FieldName").empty()) {
    stored = forms::PostedImage(page, *db, "rsField", message);
    if (!stored) {
      SendField(page, f, message);
      return forms::Refused(page);
    }
  }
  const bool saved =
      !stored ? forms::CallWriter(page, *db, "CreateCustomField", {user, Variant(form)}, kListPath, message)
              : forms::CallWriter(page, *db, "UpdateCustomField", {user, Variant(stored), Variant(form)}, kListPath,
                                  message);
  if (!saved) SendField(page, f, message);
}

AddPage fields(std::string(kListPath), {.get = FieldsPage, .post = FieldsPost});
AddPage field(std::string(kEditPath), {.get = FieldPage, .post = FieldPost});

}  // namespace

}  // namespace site

#include "site/pages/edit_forms.h"

#include <algorithm>

#include "automation/input_fault.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/issue_lists.h"
#include "site/pages/records.h"

namespace site::forms {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;

namespace {

std::string Attribute(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + HtmlAttribute(value) + "\"";
}

std::string Sizes(int size, int maxLength) {
  std::string out = " size=" + std::to_string(size);
  if (maxLength > 0) out += " maxlength=" + std::to_string(maxLength);
  return out;
}

}  // namespace

std::string TextBox(std::string_view name, std::string_view value, int size, int maxLength) {
  return "<input type=text" + Attribute("name", name) + Attribute("id", name) + Attribute("value", value) +
         Sizes(size, maxLength) + ">";
}

std::string PasswordBox(std::string_view name, int size, int maxLength) {
  return "<input type=password autocomplete=new-password" + Attribute("name", name) + Attribute("id", name) +
         Sizes(size, maxLength) + ">";
}

std::string TextArea(std::string_view name, std::string_view value, int rows, int cols) {
  return "<textarea" + Attribute("name", name) + Attribute("id", name) + " rows=" + std::to_string(rows) +
         " cols=" + std::to_string(cols) + ">" + HtmlText(value) + "</textarea>";
}

std::string CheckBox(std::string_view name, std::string_view value, bool checked) {
  return "<input type=checkbox" + Attribute("name", name) + Attribute("value", value) + (checked ? " checked" : "") +
         ">";
}

std::string Hidden(std::string_view name, std::string_view value) {
  return "<input type=hidden" + Attribute("name", name) + Attribute("value", value) + ">";
}

std::string Select(std::string_view name, const std::vector<Option>& options, std::string_view selected,
                   bool multiple, const std::vector<std::string>& selectedMany) {
  std::string out = "<select" + Attribute("name", name) + Attribute("id", name) + (multiple ? " multiple size=6" : "") +
                    ">";
  for (const Option& o : options) {
    const bool on = multiple ? std::find(selectedMany.begin(), selectedMany.end(), o.value) != selectedMany.end()
                             : o.value == selected;
    out += "<option" + Attribute("value", o.value) + (on ? " selected" : "") + ">" + HtmlText(o.text) + "</option>";
  }
  return out + "</select>";
}

std::string GridSelect(std::string_view name, std::string_view id, const std::vector<Option>& options,
                       std::string_view selected) {
  std::string out = "<select" + Attribute("name", name) + Attribute("id", id) + ">";
  for (const Option& o : options)
    out += "<option" + Attribute("value", o.value) + (o.value == selected ? " selected" : "") + ">" +
           HtmlText(o.text) + "</option>";
  return out + "</select>";
}

std::vector<Option> Options(automation::Object& rs, std::string_view valueField, std::string_view textField) {
  std::vector<Option> out;
  for (; !AtEnd(rs); rs.Call("MoveNext")) out.push_back({FieldText(rs, valueField), FieldText(rs, textField)});
  return out;
}

std::string Row(std::string_view label, std::string_view field) {
  return "<tr><td class=FormLabels>" + HtmlText(label) + "</td><td class=FormFields>" + std::string(field) +
         "</td></tr>\r\n";
}

std::string ListTable(std::string_view id, std::string_view checkName, const std::vector<std::string>& headings,
                      const std::vector<ListRow>& rows) {
  std::string out = "<table" + Attribute("id", id) + " cellpadding=2>\r\n<tr><td class=FormLabels></td>";
  for (const std::string& h : headings) out += "<td class=FormLabels>" + HtmlText(h) + "</td>";
  out += "</tr>\r\n";
  for (const ListRow& r : rows) {
    out += "<tr><td class=FormFields>" + CheckBox(checkName, r.key, false) + "</td><td class=FormFields><a" +
           Attribute("href", r.href) + ">" + HtmlText(r.caption) + "</a></td>";
    for (const std::string& c : r.cells) out += "<td class=FormFields>" + HtmlText(c) + "</td>";
    out += "</tr>\r\n";
  }
  return out + "</table>\r\n";
}

std::string PostForm(PageContext& page, std::string_view name, std::string_view path, std::string_view inner) {
  return "<form method=post enctype=\"multipart/form-data\"" + Attribute("name", name) +
         Attribute("action", page.Url(path)) + ">\r\n" + page.TokenField() + "\r\n" + std::string(inner) +
         "</form>\r\n";
}

std::string Message(const std::string& message) {
  return message.empty() ? std::string() : lists::ErrorParagraph("Message", message);
}

std::string ListPage(PageContext& page, std::string_view title, std::string_view path, std::string_view message,
                     std::string_view table, std::string_view newHref, std::string_view newCaption) {
  std::string inner = std::string(table) + "<input type=submit id=cmdDelete value=\"Delete\"> <a id=NewRecord" +
                      Attribute("href", page.Url(newHref)) + ">" + HtmlText(newCaption) + "</a>\r\n";
  return "<span class=PageTitle>" + HtmlText(title) + "</span><br>\r\n" + Message(std::string(message)) +
         PostForm(page, "fList", path, inner);
}

std::string EditForm(PageContext& page, std::string_view path, std::string_view rows, std::string_view hidden) {
  std::string inner = std::string(hidden) + "<table cellpadding=2>\r\n" + std::string(rows) +
                      "</table>\r\n<input type=submit id=cmdSave value=\"Save\">\r\n";
  return PostForm(page, "fEdit", path, inner);
}

std::string EditPage(PageContext& page, std::string_view title, std::string_view path, std::string_view message,
                     std::string_view rows, std::string_view hidden) {
  return "<span class=PageTitle>" + HtmlText(title) + "</span><br>\r\n" + Message(std::string(message)) +
         EditForm(page, path, rows, hidden);
}

void SendForbidden(PageContext& page) {
  page.SendPage("Not allowed", "<p class=ErrorText>You do not have permission to use this page.</p>", 403);
}

bool RequireSiteAdmin(PageContext& page, automation::Object& db) {
  if (db.Call("UserIsSiteAdmin", {Variant(page.UserId())}).ToBool()) return true;
  SendForbidden(page);
  return false;
}

bool RequireCanAdmin(PageContext& page, automation::Object& db) {
  if (db.Call("UserCanAdmin", {Variant(page.UserId())}).ToBool()) return true;
  SendForbidden(page);
  return false;
}

ObjectPtr PostedForm(PageContext& page) {
  ObjectPtr form = page.FormData();
  if (!form) page.SendPage("Form", "<p class=ErrorText>The form was not sent as a form.</p>", 400);
  return form;
}


ObjectPtr PostedImage(PageContext& page, automation::Object& db, std::string_view field, std::string& message) {
  const std::string image = page.Form(field);
  if (image.empty()) {
    message = kDamagedImage;
    return nullptr;
  }
  try {
    if (ObjectPtr rs = db.Call("rsFromXml", {Variant(image)}).ToObject()) return rs;
  } catch (const automation::InputFault&) {
    // One sentence for every way an image can be wrong; the library has logged which it was.
  }
  message = kDamagedImage;
  return nullptr;
}

void Refused(PageContext& page) { page.SetStatus(400); }

Variant CallImageWriter(PageContext& page, automation::Object& db, std::string_view writer, std::vector<Variant> args,
                        std::string& message) {
  // The number a writer refuses a handed-back recordset with; the library has logged the detail.
  constexpr int32_t kNotTheWritersRow = static_cast<int32_t>(0x80040001);
  try {
    return db.Call(writer, std::move(args));
  } catch (const automation::InputFault& e) {
    if (e.number != kNotTheWritersRow) throw;
  }
  message = kDamagedImage;
  page.HoldStatus(400);
  return Variant();
}

bool CallWriter(PageContext& page, automation::Object& db, std::string_view writer, std::vector<Variant> args,
                std::string_view done, std::string& message) {
  const Variant answer = CallImageWriter(page, db, writer, std::move(args), message);
  if (answer.IsEmpty()) return false;
  if (answer.ToBool()) {
    page.Redirect(page.Url(done));
    return true;
  }
  message = db.Get("LastErrorMessage").ToText();
  return false;
}

void DeleteTicked(PageContext& page, std::string_view writer, std::string_view list, ListSender resend,
                  bool projectAdmins) {
  auto db = page.Database();
  if (!(projectAdmins ? RequireCanAdmin(page, *db) : RequireSiteAdmin(page, *db))) return;
  auto form = PostedForm(page);
  if (!form) return;
  std::string message;
  if (!CallWriter(page, *db, writer, {Variant(page.UserId()), Variant(form)}, list, message))
    resend(page, *db, message);
}

}  // namespace site::forms

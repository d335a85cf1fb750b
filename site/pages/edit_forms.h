// What the administration and personal pages share: the list-and-edit pattern's pieces in the look
// of the rendered pages. A list page shows a reader's rows, each a link to its edit page, with the
// delete check boxes its delete writer reads and a "New ..." link; an edit page carries the record's
// signed image back to its writer, shows the writer's sentence above the refilled form on a refusal
// and goes back to its list on success (303).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace site {

class PageContext;

namespace forms {

using ObjectPtr = std::shared_ptr<automation::Object>;

// Form controls; every value HTML-encoded here, names as the writers read them.
std::string TextBox(std::string_view name, std::string_view value, int size = 30, int maxLength = 0);
// A password box is never filled in: a page never sends a password back.
std::string PasswordBox(std::string_view name, int size = 20, int maxLength = 20);
std::string TextArea(std::string_view name, std::string_view value, int rows = 4, int cols = 50);
std::string CheckBox(std::string_view name, std::string_view value, bool checked);
std::string Hidden(std::string_view name, std::string_view value);
struct Option {
  std::string value, text;
};
std::string Select(std::string_view name, const std::vector<Option>& options, std::string_view selected,
                   bool multiple = false, const std::vector<std::string>& selectedMany = {});
// One of a grid of boxes that post under one name: each box has an id of its own.
std::string GridSelect(std::string_view name, std::string_view id, const std::vector<Option>& options,
                       std::string_view selected);
// The options of a recordset's rows (value and text fields).
std::vector<Option> Options(automation::Object& rs, std::string_view valueField, std::string_view textField);

// One row of an edit form: the label cell and the field cell.
std::string Row(std::string_view label, std::string_view field);

// A list of records: each row a delete box (`checkName`, the row's key), a link and more cells.
struct ListRow {
  std::string key;      // the value of the delete box
  std::string href;     // the edit page of the row (a site path with its query)
  std::string caption;  // the link's text
  std::vector<std::string> cells;  // further cells, as text
};
std::string ListTable(std::string_view id, std::string_view checkName, const std::vector<std::string>& headings,
                      const std::vector<ListRow>& rows);

// A post form of the site (multipart, with the sign-in's token) around `inner`.
std::string PostForm(PageContext& page, std::string_view name, std::string_view path, std::string_view inner);
// The list page: title, sentence, the list in a form that posts to `path` with a Delete button,
// and the link to a new record.
std::string ListPage(PageContext& page, std::string_view title, std::string_view path, std::string_view message,
                     std::string_view table, std::string_view newHref, std::string_view newCaption);
// An edit page: title, the writer's sentence, and its form (the form rows with a Save button).
std::string EditForm(PageContext& page, std::string_view path, std::string_view rows, std::string_view hidden = "");
std::string EditPage(PageContext& page, std::string_view title, std::string_view path, std::string_view message,
                     std::string_view rows, std::string_view hidden = "");

// The sentence above a form; "" for none.
std::string Message(const std::string& message);

// 403 with the menu for a user the menu would not show the page to. True when the user may go on.
bool RequireSiteAdmin(PageContext& page, automation::Object& db);
// The same for the pages of a site or project administrator.
bool RequireCanAdmin(PageContext& page, automation::Object& db);
void SendForbidden(PageContext& page);

// The posted form of a page, or a 400 page with a sentence when the body is not a form.
ObjectPtr PostedForm(PageContext& page);

// The sentence of a row image that is missing, empty, damaged or not this site's.
inline constexpr std::string_view kDamagedImage = "The recordset image is damaged or was not made by this site.";

// The signed row image a form carries back in `field`, read by the library (rsFromXml). Nothing,
// with the sentence in `message`, when the form lacks it or the library refuses it: the page then
// shows its form again under the sentence with status 400 (Refused) and writes nothing.
ObjectPtr PostedImage(PageContext& page, automation::Object& db, std::string_view field, std::string& message);
// A page's refusal of its own form: its form page is already sent; the answer becomes 400.
void Refused(PageContext& page);

// Calls a writer (by name) that is handed a posted row image. An image the writer refuses as not
// the one it takes (another table's or another record's, swapped in from another form) is answered
// as a damaged one: Empty, kDamagedImage in `message`, and the page sent next goes out with 400.
automation::Variant CallImageWriter(PageContext& page, automation::Object& db, std::string_view writer,
                                    std::vector<automation::Variant> args, std::string& message);

// Calls a writer (by name) with its arguments (as CallImageWriter); on success redirects to `done`,
// else gives the writer's LastErrorMessage for the page to show above its refilled form.
bool CallWriter(PageContext& page, automation::Object& db, std::string_view writer,
                std::vector<automation::Variant> args, std::string_view done, std::string& message);

// A list page's post for a site administrator (or, with `projectAdmins`, any administrator): the
// ticked rows go through the delete writer `Writer(user, form)`, all or none; on success back to
// `list`, else `resend` shows the list again under the writer's sentence.
using ListSender = void (*)(PageContext& page, automation::Object& db, const std::string& message);
void DeleteTicked(PageContext& page, std::string_view writer, std::string_view list, ListSender resend,
                  bool projectAdmins = false);

}  // namespace forms

}  // namespace site

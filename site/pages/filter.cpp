// /User/Filter.asp: one saved filter, new or stored, with the query wizard for its criteria or a
// box for a typed condition (an advanced filter). The wizard's texts go into the form only when it
// says they can be saved; the library makes a wizard filter's SQL itself.
#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/issue_lists.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

constexpr std::string_view kPath = "/User/Filter.asp";
constexpr size_t kNameChars = 50;  // the longest filter name

// What the form shows: the stored filter, or what was posted when it was refused.
struct FilterForm {
  std::string originalName;  // the name the page was opened with ("" for a new filter)
  std::string name, expression;
  bool advanced = false;
  std::string rsImage;  // the stored row as read, for UpdateFilter
};

// A PARAM's value: an attribute whose CR and LF stay characters (the parser would make a CR LF
// one LF).
std::string ParamValue(const std::string& s) {
  std::string out;
  for (char c : HtmlAttribute(s)) {
    if (c == '\r') out += "&#13;";
    else if (c == '\n') out += "&#10;";
    else out += c;
  }
  return out;
}

std::string Param(const char* name, const std::string& value) {
  return std::string("<PARAM NAME=\"") + name + "\" VALUE=\"" + ParamValue(value) + "\">";
}

constexpr const char* kSaveScript =
    "<script>\r\n"
    "function SaveFilter() {\r\n"
    "  var f = document.fFilter;\r\n"
    "  if (f.AdvancedFilter.checked) {\r\n"
    "    f.FilterExpression.value = '';\r\n"
    "    f.fqFilterExpression.value = f.AdvancedCriteria.value;\r\n"
    "    return true;\r\n"
    "  }\r\n"
    "  var w = document.getElementById('QueryWizard');\r\n"
    "  if (!w.CanSave) return false;\r\n"
    "  f.FilterExpression.value = w.FilterExpression;\r\n"
    "  f.fqFilterExpression.value = w.fqFilterExpression;\r\n"
    "  return true;\r\n"
    "}\r\n"
    "</script>\r\n";

std::string Wizard(PageContext& page, const FilterForm& f) {
  const std::string fields = page.Database()->Call("GetFilterFieldsText", {Variant(page.UserId())}).ToString();
  return "<OBJECT id=QueryWizard classid=\"clsid:C096CE94-CD42-4BE7-81D6-CB89E21A19F0\" width=620 height=245>" +
         Param("_cx", "16404") + Param("_cy", "6482") + Param("AvailableFields", fields) +
         Param("FilterExpression", f.advanced ? std::string() : f.expression) + "</OBJECT>";
}

void SendFilter(PageContext& page, const FilterForm& f, const std::string& message) {
  std::string action = page.Url(kPath);
  if (!f.originalName.empty()) action += "?FilterName=" + UrlComponent(f.originalName);
  std::string body = "<span class=PageTitle>Filter</span><br>\r\n";
  if (!message.empty()) body += lists::ErrorParagraph("FilterError", message);
  body += "<form name=fFilter method=post enctype=\"multipart/form-data\" action=\"" + HtmlAttribute(action) +
          "\" onsubmit=\"return SaveFilter()\">\r\n" + page.TokenField() +
          "\r\n<input type=hidden name=rsFilter value=\"" + HtmlAttribute(f.rsImage) +
          "\">\r\n<input type=hidden name=FilterExpression id=FilterExpression value=\"\">"
          "<input type=hidden name=fqFilterExpression id=fqFilterExpression value=\"\">\r\n"
          "<table cellpadding=2>\r\n<tr><td class=FormLabels>Name</td><td class=FormFields>"
          "<input type=text name=FilterName id=FilterName size=50 maxlength=" + std::to_string(kNameChars) + " value=\"" +
          HtmlAttribute(f.name) + "\"></td></tr>\r\n<tr><td class=FormLabels>Criteria</td><td class=FormFields>" +
          Wizard(page, f) +
          "</td></tr>\r\n<tr><td class=FormLabels></td><td class=FormFields>"
          "<input type=checkbox name=AdvancedFilter id=AdvancedFilter value=\"on\"" +
          (f.advanced ? " checked" : "") +
          "> Advanced filter: a condition typed in SQL<br>\r\n"
          "<textarea name=AdvancedCriteria id=AdvancedCriteria rows=4 cols=80>" +
          HtmlText(f.advanced ? f.expression : std::string()) +
          "</textarea></td></tr>\r\n<tr><td></td><td class=FormFields><input type=submit id=cmdSave value=\"Save\"> "
          "<a id=Cancel href=\"" +
          HtmlAttribute(page.Url("/User/Filters.asp")) + "\">Cancel</a></td></tr>\r\n</table>\r\n</form>\r\n" +
          kSaveScript;
  page.SendPage("Filter", body);
}

void FilterPage(PageContext& page) {
  FilterForm f;
  f.originalName = page.Query("FilterName");
  if (!f.originalName.empty()) {
    auto db = page.Database();
    auto rs = LookUp(f.originalName, kNameChars, [&] {
      return db->Call("GetSummaryFilterRs", {Variant(page.UserId()), Variant(f.originalName)}).ToObject();
    });
    if (!rs) {
      return page.SendPage(
          "Filter", lists::ErrorParagraph("FilterError", "The filter '" + f.originalName + "' does not exist."), 404);
    }
    f.name = FieldText(*rs, "FilterName");
    f.expression = FieldText(*rs, "FilterExpression");
    f.advanced = FieldValue(*rs, "AdvancedFilter").ToBool();
    f.rsImage = db->Call("rsToXml", {Variant(rs)}).ToString();
  }
  SendFilter(page, f, "");
}

// A stored filter is written back through the row it was read as; a new one is inserted. A refusal
// shows the form again as it was posted.
void FilterPost(PageContext& page) {
  auto db = page.Database();
  auto form = page.FormData();
  FilterForm f;
  f.originalName = page.Query("FilterName");
  f.name = page.Form("FilterName");
  f.advanced = automation::EqualsNoCase(page.Form("AdvancedFilter"), "on");
  f.expression = f.advanced ? page.Form("fqFilterExpression") : page.Form("FilterExpression");
  f.rsImage = page.Form("rsFilter");
  if (!form) {
    SendFilter(page, f, "The filter was not sent as a form.");
    return forms::Refused(page);
  }
  bool saved = false;
  // The edit form (its path names the filter) carries the stored row; only a new filter's has none.
  if (f.rsImage.empty() && f.originalName.empty()) {
    saved = db->Call("CreateFilter", {Variant(page.UserId()), Variant(form)}).ToBool();
  } else {
    std::string refusal;
    auto rs = forms::PostedImage(page, *db, "rsFilter", refusal);
    if (!rs) {
      SendFilter(page, f, refusal);
      return forms::Refused(page);
    }
    const Variant answer =
        forms::CallImageWriter(page, *db, "UpdateFilter", {Variant(page.UserId()), Variant(rs), Variant(form)}, refusal);
    if (answer.IsEmpty()) return SendFilter(page, f, refusal);
    saved = answer.ToBool();
  }
  if (saved) return page.Redirect(page.Url("/User/Filters.asp"));
  SendFilter(page, f, db->Get("LastErrorMessage").ToText());
}

AddPage filter(std::string(kPath), {.get = FilterPage, .post = FilterPost});

}  // namespace

}  // namespace site

#include "site/pages/system/system_pages.h"

#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"

namespace site::syspages {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;

namespace {

constexpr int32_t kAgentRunning = 1;

}  // namespace

ObjectPtr OpenDbAdmin(PageContext& page, std::string& message) {
  ObjectPtr admin = page.Create("Brisquel.DbAdmin");
  admin->Put("ConnectionString", Variant(page.SiteHost().ConnectionString()));
  message = admin->Get("LastErrorMessage").ToText();
  return message.empty() ? admin : nullptr;
}

std::string AgentSentence(automation::Object& admin, bool& storeUsable) {
  storeUsable = true;
  try {
    if (admin.Call("AgentStatus").ToLong() == kAgentRunning) return {};
  } catch (const automation::ComError& e) {
    storeUsable = false;
    return Described(e);
  }
  return "The job agent (vantrel-agent) is not running: scheduled backups wait until it runs, and \"Back up now\" "
         "starts it.";
}

std::string MessageHtml(const std::string& message) {
  // The agent's start failure ends in a list item; every other character stays text.
  static constexpr std::string_view kItem = ").<li>This is typically caused by ";
  const std::string encodedItem = HtmlText(kItem);
  std::string out = HtmlText(message);
  for (size_t at = 0; (at = out.find(encodedItem, at)) != std::string::npos; at += kItem.size())
    out.replace(at, encodedItem.size(), kItem);
  for (size_t at = 0; (at = out.find("\r\n", at)) != std::string::npos;) out.replace(at, 2, "<br>");
  return out;
}

std::string Described(const automation::ComError& e) {
  return e.description.empty() ? "The request failed (error " + std::to_string(e.number) + ")." : e.description;
}

std::string PlainTable(std::string_view id, const std::vector<std::string>& headings,
                       const std::vector<std::vector<std::string>>& rows, int rawColumn) {
  std::string out = "<table id=\"" + HtmlAttribute(id) + "\" cellpadding=2>\r\n<tr>";
  for (const std::string& h : headings) out += "<td class=FormLabels>" + HtmlText(h) + "</td>";
  out += "</tr>\r\n";
  for (const auto& row : rows) {
    out += "<tr>";
    for (size_t i = 0; i < row.size(); ++i)
      out += "<td class=FormFields>" + (static_cast<int>(i) == rawColumn ? row[i] : HtmlText(row[i])) + "</td>";
    out += "</tr>\r\n";
  }
  return out + "</table>\r\n";
}

std::string ButtonForm(PageContext& page, std::string_view name, std::string_view path, std::string_view hidden,
                       std::string_view buttonId, std::string_view caption) {
  return forms::PostForm(page, name, path,
                         std::string(hidden) + "<input type=submit id=\"" + HtmlAttribute(buttonId) + "\" value=\"" +
                             HtmlAttribute(caption) + "\">\r\n");
}

}  // namespace site::syspages

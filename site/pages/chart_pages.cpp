#include "site/pages/chart_pages.h"

#include "common/class_table.h"
#include "brisquel/encode.h"
#include "site/host.h"

namespace site {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::ScriptString;

std::string ProjectOptions(PageContext& page, int32_t selected) {
  auto option = [&](int32_t id, std::string_view text) {
    return "<option value=\"" + std::to_string(id) + "\"" + (id == selected ? " selected" : "") + ">" +
           HtmlText(text) + "</option>\r\n";
  };
  std::string out = option(-1, "All projects");
  auto rs = page.Database()->Call("GetUserProjectsRs", {Variant(page.UserId())}).ToObject();
  EachRecord(*rs, [&](automation::Object& r) { out += option(FieldValue(r, "ProjectId").ToLong(), FieldText(r, "ProjectCode")); });
  return out;
}

std::string ChartObject(std::string_view className, std::string_view id, int width, int height,
                        const std::vector<std::pair<std::string, std::string>>& params) {
  const tamsolo::ClassEntry* entry = tamsolo::FindClassByName(className);
  std::string clsid(entry->clsid.substr(1, entry->clsid.size() - 2));
  std::string out = "<object classid=\"clsid:" + clsid + "\" id=" + std::string(id) + " width=" +
                    std::to_string(width) + " height=" + std::to_string(height) + ">\r\n";
  for (const auto& [name, value] : params)
    out += "<param name=" + name + " value=\"" + HtmlAttribute(value) + "\">\r\n";
  return out + "</object>\r\n";
}

std::string UpdateOnReady(std::string_view id) {
  // The loader comes after the page's own script, so the event is what tells the page.
  return "document.addEventListener('tamsoloready', function () { document.getElementById('" + ScriptString(id) +
         "').UpdateGraph(); });\r\n";
}

bool DataSignedIn(PageContext& page) {
  if (page.SignIn()) return true;
  page.SendText("text/plain; charset=utf-8", "", 401);
  return false;
}

// Every response of the site is sent with "Cache-Control: no-store" already.
void SendReply(PageContext& page, std::string body) {
  page.SendText("text/plain; charset=utf-8", std::move(body));
}

}  // namespace site

// /Help/<page path>: the help window of a page, which the menu's Help link opens. It shows the
// page's entry of the help texts without the menu (whose own Help link would lead from it to a
// help page of the help page).
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/help/help_texts.h"
#include "site/routes.h"

namespace site {

namespace {

using brisquel::encode::HtmlText;

constexpr std::string_view kHelp = "/Help";

std::string HelpHtml(const help::Text& t) {
  std::string out = "<div id=HelpText>\r\n<div class=box2>" + HtmlText(t.title) + "</div>\r\n<p id=HelpPurpose>" +
                    HtmlText(t.purpose) + "</p>\r\n";
  if (!t.fields.empty()) {
    out += "<table id=HelpFields cellpadding=2>\r\n";
    for (const help::Field& f : t.fields)
      out += "<tr><td class=FormLabels nowrap>" + HtmlText(f.name) + "</td><td class=FormFields>" +
             HtmlText(f.meaning) + "</td></tr>\r\n";
    out += "</table>\r\n";
  }
  return out + "<p id=HelpWho><b>Who may use it:</b> " + HtmlText(t.who) + "</p>\r\n</div>\r\n";
}

void HelpPage(PageContext& page) {
  page.OmitMenu();
  // The path below the root, then below /Help.
  std::string path = page.Path().substr(page.Url("").size());
  path = path.substr(std::min(path.size(), kHelp.size()));
  if (const help::Text* t = help::Find(path)) {
    page.SendPage("Help: " + std::string(t->title), HelpHtml(*t));
    return;
  }
  page.SendPage("Help", "<p class=ErrorText>There is no help for this page.</p>", 404);
}

AddPage help("/Help/", {.get = HelpPage, .isPublic = true, .prefix = true});

}  // namespace

}  // namespace site

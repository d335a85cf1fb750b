#include "site/page_shell.h"

#include <filesystem>

#include "brisquel/encode.h"
#include "site/engine.h"
#include "site/host.h"
#include "site/page_context.h"

namespace site {

std::string PageShell(PageContext& page, std::string_view title, std::string_view body) {
  using brisquel::encode::HtmlAttribute;
  const SiteOptions& o = page.SiteHost().Options();
  std::string out =
      "<html>\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
      "<title>" +
      brisquel::encode::HtmlText(title) + "</title>\r\n";
  out += "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + HtmlAttribute(page.Url("/vantrel.css")) + "\">\r\n";
  // The script keeps forms with files that the site would refuse as too large from being sent.
  out += "<script src=\"" + HtmlAttribute(page.Url("/vantrel.js")) + "\" data-max-body=" + std::to_string(kMaxBody) +
         "></script>\r\n";
  out += "</head>\r\n<body>\r\n";
  const MenuWriter& menu = GetMenuWriter();
  if (menu && page.WithMenu()) {
    // The menu stands absolutely at the top and on the left; the page's own content beside it.
    out += menu(page);
    out += "<div id=PageContent>";
    out += body;
    out += "</div>";
  } else {
    out += body;
  }
  // Signed-in pages end with the control library, so the loader runs once the page's OBJECTs are
  // in; the sign-in page has no controls.
  std::error_code ec;
  if (page.SignIn() && !o.controls.empty() && std::filesystem::is_regular_file(o.controls / "tamsolo-loader.js", ec)) {
    // The module first: the loader starts it as it runs.
    if (std::filesystem::is_regular_file(o.controls / "tamsolo.js", ec))
      out += "<script src='" + HtmlAttribute(page.Url("/controls/tamsolo.js")) + "'></script>";
    out += "<script src='" + HtmlAttribute(page.Url("/controls/tamsolo-loader.js")) + "'></script>";
  }
  out += "\r\n</body>\r\n</html>\r\n";
  return out;
}

}  // namespace site

#include "site/page_shell.h"

#include <filesystem>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"

namespace site {

namespace detail {
// Generated from site/static by static_to_cpp.cmake.
extern const StaticFile kStaticFiles[];
extern const size_t kStaticFileCount;
}  // namespace detail

std::string PageShell(PageContext& page, std::string_view title, std::string_view body) {
  using brisquel::encode::HtmlAttribute;
  const SiteOptions& o = page.SiteHost().Options();
  std::string out =
      "<html>\r\n<head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
      "<title>" +
      brisquel::encode::HtmlText(title) + "</title>\r\n";
  out += "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + HtmlAttribute(page.Url("/vantrel.css")) + "\">\r\n";
  out += "<script src=\"" + HtmlAttribute(page.Url("/vantrel.js")) + "\"></script>\r\n";
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

const StaticFile* FindStaticFile(std::string_view name) {
  for (size_t i = 0; i < detail::kStaticFileCount; ++i)
    if (automation::EqualsNoCase(detail::kStaticFiles[i].name, name)) return &detail::kStaticFiles[i];
  return nullptr;
}

std::string_view ContentTypeOf(std::string_view name) {
  struct Type {
    std::string_view extension, type;
  };
  static constexpr Type kTypes[] = {
      {".css", "text/css; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".gif", "image/gif"},               {".jpg", "image/jpeg"},
      {".png", "image/png"},               {".wasm", "application/wasm"},
      {".html", "text/html; charset=utf-8"},
  };
  const std::string lower = automation::LowerAscii(name);
  for (const auto& t : kTypes)
    if (lower.ends_with(t.extension)) return t.type;
  return "application/octet-stream";
}

}  // namespace site

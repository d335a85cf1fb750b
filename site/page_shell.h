// The page shell every page is sent in, and the files the site serves itself.
#pragma once

#include <string>
#include <string_view>

namespace site {

class PageContext;

// The whole document: no DOCTYPE (the fragments' unitless lengths need quirks mode), UTF-8, our
// stylesheet and script, then the menu (once a menu writer is set) and the body; a signed-in page
// ends with the controls' module and loader when the control library is there.
std::string PageShell(PageContext& page, std::string_view title, std::string_view body);

struct StaticFile {
  std::string_view name;  // "vantrel.css", "images/spacer.gif"
  std::string_view bytes;
};
// The files of site/static, built into the program.
const StaticFile* FindStaticFile(std::string_view name);
// The Content-Type of a file name by its extension.
std::string_view ContentTypeOf(std::string_view name);

}  // namespace site

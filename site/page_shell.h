// The page shell every page is sent in.
#pragma once

#include <string>
#include <string_view>

namespace site {

class PageContext;

// The whole document: no DOCTYPE (the fragments' unitless lengths need quirks mode), UTF-8, our
// stylesheet and script, then the menu (once a menu writer is set) and the body; a signed-in page
// ends with the controls' module and loader when the control library is there.
std::string PageShell(PageContext& page, std::string_view title, std::string_view body);

}  // namespace site

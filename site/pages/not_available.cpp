// Pages whose content the library does not render yet. Each answers 501 in the shell (with the menu
// once the menu is there); a page that gets its content moves out of this list into its own file.
#include "site/host.h"
#include "site/routes.h"

namespace site {

namespace {

void NotAvailable(PageContext& page) {
  page.SendPage("Not available", "<p class=ErrorText>This page is not available yet.</p>", 501);
}

const PageSpec kNotAvailable{.get = NotAvailable, .post = NotAvailable};
PageSpec Public() {
  PageSpec p = kNotAvailable;
  p.isPublic = true;
  return p;
}
PageSpec Under(PageFn answer) {
  return PageSpec{.get = answer, .post = answer, .prefix = true};
}

const bool registered = [] {
  for (const char* path : {
           // personal pages
           "/User/MyInfo.asp", "/User/Personalize.asp", "/User/PersonalizeSearch.asp",
       }) {
    RouteTable::Instance().Add(path, kNotAvailable);
  }
  RouteTable::Instance().Add("/User/SignUp.asp", Public());
  RouteTable::Instance().Add("/Setup/", Under(NotAvailable));
  return true;
}();

}  // namespace

}  // namespace site

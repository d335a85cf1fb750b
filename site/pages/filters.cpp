// /User/Filters.asp: the user's saved filters, each with a box to tick for deleting it and a link
// to change it, and a link to a new filter.
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/issue_lists.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

constexpr std::string_view kPath = "/User/Filters.asp";

void SendFilters(PageContext& page, const std::string& message) {
  auto db = page.Database();
  auto rs = db->Call("GetSummaryFiltersRs", {Variant(page.UserId())}).ToObject();
  std::string rows;
  EachRecord(*rs, [&](automation::Object& row) {
    const std::string name = FieldText(row, "FilterName");
    rows += "<tr><td class=FormFields><input type=checkbox name=chkFilter value=\"" +
            HtmlAttribute(UrlComponent(name)) + "\"></td><td class=FormFields><a class=FilterLink href=\"" +
            HtmlAttribute(page.Url("/User/Filter.asp") + "?FilterName=" + UrlComponent(name)) + "\">" +
            HtmlText(name) + "</a></td></tr>\r\n";
  });
  std::string body = "<span class=PageTitle>My Filters</span><br>\r\n";
  if (!message.empty()) body += lists::ErrorParagraph("FilterError", message);
  body += "<form name=fFilters method=post enctype=\"multipart/form-data\" action=\"" +
          HtmlAttribute(page.Url(kPath)) + "\">\r\n" + page.TokenField() +
          "\r\n<table id=Filters cellpadding=2>\r\n" + rows +
          "</table>\r\n<input type=submit id=cmdDelete value=\"Delete\"> <a id=NewFilter href=\"" +
          HtmlAttribute(page.Url("/User/Filter.asp")) + "\">New filter...</a>\r\n</form>\r\n";
  page.SendPage("My Filters", body);
}

void FiltersPage(PageContext& page) { SendFilters(page, ""); }

// The ticked filters go, all or none; a refusal is shown over the list.
void FiltersPost(PageContext& page) {
  auto db = page.Database();
  auto form = page.FormData();
  if (form && db->Call("DeleteFilter", {Variant(page.UserId()), Variant(form)}).ToBool())
    return page.Redirect(page.Url(kPath));
  SendFilters(page, form ? db->Get("LastErrorMessage").ToText() : std::string("The form was not sent as a form."));
  if (!form) page.SetStatus(400);
}

AddPage filters(std::string(kPath), {.get = FiltersPage, .post = FiltersPost});

}  // namespace

}  // namespace site

// /Issues/IssuePrinterFriendly.asp?IssueId=N: one issue as read-only text for printing
// (Brisquel.DetailsPrinterFriendly) with the list of its files, without the menu.
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/issues/attachments.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;

void IssuePrinterFriendlyPage(PageContext& page) {
  page.OmitMenu();
  auto db = page.Database();
  const Variant user(page.UserId());
  const std::optional<int32_t> id = WholeNumber(page.Query("IssueId"));
  if (!id || *id < 0 || AtEnd(*db->Call("FindIssueByIdRs", {user, Variant(-1), Variant(*id)}).ToObject())) {
    page.SendPage("Issue", "<p class=ErrorText>The issue cannot be found.</p>", 404);
    return;
  }
  auto rs = db->Call("GetIssueRs", {Variant(*id)}).ToObject();
  auto details = page.Create("Brisquel.DetailsPrinterFriendly");
  const std::string title = "Issue " + std::to_string(*id);
  std::string html = details->Call("Header", {user, Variant(db), Variant(*id), Variant(FieldText(*rs, "ResolutionCode")),
                                              Variant(FieldText(*rs, "StatusCode"))})
                         .ToString();
  html += "<div id=IssueTitle class=box2>" + brisquel::encode::HtmlText(title) + "</div>\r\n";
  html += details->Call("Body", {Variant(db), Variant(rs), user}).ToString();
  html += AttachmentList(page, *db, *id, false);
  page.SendPage(title, html);
}

AddPage printerPage("/Issues/IssuePrinterFriendly.asp", {.get = IssuePrinterFriendlyPage});

}  // namespace

}  // namespace site

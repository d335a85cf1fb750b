// /User/Layout.asp: one of the user's issue-list layouts, new or stored, in the grid of field boxes
// that Brisquel.LayoutForm writes (one row per list row, one box per selectable field). A new layout
// goes to CreateLayout, a stored one back through the row it was read as to UpdateLayout; after a
// refusal the grid is rebuilt from the boxes as they were posted.
#include <string>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::UrlComponent;
using namespace forms;

constexpr std::string_view kPath = "/User/Layout.asp";
constexpr size_t kNameChars = 50;  // the longest stored layout name

struct LayoutPageState {
  std::string original;  // the name the page was opened with ("" for a new layout)
  std::string name, image;
  ObjectPtr stored;  // the layout's row, for its grid
  ObjectPtr posted;  // the refused form, for its grid
};

void SendLayout(PageContext& page, const LayoutPageState& l, const std::string& message) {
  auto db = page.Database();
  auto fields = db->Call("GetIssueFieldsRs", {Variant(page.UserId())}).ToObject();
  const int32_t perRow = fields->Get("RecordCount").ToLong();
  const std::string grid =
      page.Create("Brisquel.LayoutForm")
          ->Call("Details", {Variant(page.UserId()), Variant(db), Variant(page.Create("Brisquel.UIHelpers")),
                             Variant(l.posted), Variant(fields), Variant(l.stored), Variant(l.posted != nullptr)})
          .ToString();
  const std::string rows =
      Row("Name", TextBox("LayoutName", l.name, 30, l.image.empty() ? 20 : static_cast<int>(kNameChars))) +
      Row("Fields", "<table id=LayoutGrid cellpadding=0 cellspacing=2>\r\n" + grid + "</table>");
  const std::string path =
      l.original.empty() ? std::string(kPath) : std::string(kPath) + "?LayoutName=" + UrlComponent(l.original);
  page.SendPage("Layout", EditPage(page, "Layout", path, message, rows,
                                   Hidden("rsLayout", l.image) + Hidden("NumIssueFields", std::to_string(perRow))));
}

void LayoutPage(PageContext& page) {
  LayoutPageState l;
  l.original = page.Query("LayoutName");
  if (!l.original.empty()) {
    auto db = page.Database();
    l.stored = LookUp(l.original, kNameChars, [&] {
      return db->Call("GetSummaryLayoutRs", {Variant(page.UserId()), Variant(l.original)}).ToObject();
    });
    if (!l.stored)
      return page.SendPage("Layout", Message("The layout '" + l.original + "' does not exist."), 404);
    l.name = FieldText(*l.stored, "LayoutName");
    l.image = db->Call("rsToXml", {Variant(l.stored)}).ToString();
  }
  SendLayout(page, l, "");
}

void LayoutPost(PageContext& page) {
  auto db = page.Database();
  auto form = PostedForm(page);
  if (!form) return;
  LayoutPageState l;
  l.original = page.Query("LayoutName");
  l.name = page.Form("LayoutName");
  l.image = page.Form("rsLayout");
  const Variant user(page.UserId());
  std::string message;
  l.posted = form;
  // The edit form (its path names the layout) carries the stored row; only a new layout's has none.
  ObjectPtr stored;
  if (!l.image.empty() || !l.original.empty()) {
    stored = PostedImage(page, *db, "rsLayout", message);
    if (!stored) {
      SendLayout(page, l, message);
      return Refused(page);
    }
  }
  const bool saved =
      !stored ? CallWriter(page, *db, "CreateLayout", {user, Variant(form)}, "/User/Personalize.asp", message)
              : CallWriter(page, *db, "UpdateLayout", {user, Variant(stored), Variant(form)}, "/User/Personalize.asp",
                           message);
  if (saved) return;
  SendLayout(page, l, message);
}

AddPage layout(std::string(kPath), {.get = LayoutPage, .post = LayoutPost});

}  // namespace

}  // namespace site

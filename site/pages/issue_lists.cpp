#include "site/pages/issue_lists.h"

#include <algorithm>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"

namespace site::lists {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;

namespace {

Variant Obj(const ObjectPtr& o) { return Variant(o); }

// Page 1, the last page, and the pages near the current one; gaps as "...".
std::string PageLinks(const ListCall& call, int32_t pageCount) {
  const int32_t current = std::clamp<int32_t>(call.state.pageNum, 1, pageCount);
  std::string out = "<table class=box2 id=" + HtmlAttribute(call.state.prefix) +
                    "PageLinks cellpadding=2><tr><td class=formlabels nowrap>Page&nbsp;";
  bool gap = false;
  for (int32_t p = 1; p <= pageCount; ++p) {
    if (p != 1 && p != pageCount && (p < current - 4 || p > current + 4)) {
      if (!gap) out += "...&nbsp;";
      gap = true;
      continue;
    }
    gap = false;
    if (p == current) {
      out += "<b>" + std::to_string(p) + "</b>&nbsp;";
    } else {
      out += "<a class=formlabels href='" + HtmlAttribute(call.pageHref(static_cast<int16_t>(p))) + "'>" +
             std::to_string(p) + "</a>&nbsp;";
    }
  }
  out += "</td></tr></table>\r\n";
  return out;
}

}  // namespace

UserSettings ReadUserSettings(automation::Object& db, const std::string& userId) {
  UserSettings s;
  auto rs = db.Call("GetUserRs", {Variant(userId)}).ToObject();
  if (!rs || AtEnd(*rs)) return s;
  s.defaultFilter = FieldText(*rs, "DefaultFilter");
  if (std::string layout = FieldText(*rs, "DefaultLayout"); !layout.empty()) s.defaultLayout = layout;
  s.defaultProject = FieldLong(*rs, "DefaultProject", -1);
  s.myAssignmentNumIssues = FieldLong(*rs, "MyAssignmentNumIssues", 20);
  s.searchNumIssues = FieldLong(*rs, "SearchNumIssues", 20);
  s.releaseNotesNumIssues = FieldLong(*rs, "ReleaseNotesNumIssues", 20);
  return s;
}

ListState ReadListState(PageContext& page, automation::Object& db, std::string_view prefix,
                        const std::string& defaultLayout) {
  ListState s;
  s.prefix = prefix;
  const std::string p(prefix);
  const std::string asked = page.Query(p + "Layout");
  // The layout asked for when the user has it, else his default, else his first.
  std::string first, fallback;
  EachRecord(db.Call("GetSummaryLayoutsRs", {Variant(page.UserId())}).ToObject(), [&](automation::Object& rs) {
    const std::string name = FieldText(rs, "LayoutName");
    if (first.empty()) first = name;
    if (s.layout.empty() && !asked.empty() && automation::EqualsNoCase(name, asked)) s.layout = name;
    if (fallback.empty() && automation::EqualsNoCase(name, defaultLayout)) fallback = name;
  });
  if (s.layout.empty()) s.layout = !fallback.empty() ? fallback : !first.empty() ? first : defaultLayout;
  if (std::string order = page.Query(p + "OrderBy"); !order.empty()) s.orderBy = order;
  s.orderSeq = QueryNumber(page, p + "OrderSeq", 0) != 0 ? 1 : 0;
  s.pageNum = static_cast<int16_t>(std::clamp<int32_t>(QueryNumber(page, p + "PageNum", 1), 1, INT16_MAX));
  return s;
}

std::string StateQuery(const ListState& s, int16_t pageNum) {
  const std::string p = UrlComponent(s.prefix);
  return p + "Layout=" + UrlComponent(s.layout) + "&" + p + "OrderBy=" + UrlComponent(s.orderBy) + "&" + p +
         "OrderSeq=" + std::to_string(s.orderSeq) + "&" + p + "PageNum=" + std::to_string(pageNum);
}

ProjectChoice ChooseProject(automation::Object& db, const std::string& userId, int32_t asked, bool withAll) {
  ProjectChoice c;
  bool found = false;
  int32_t firstId = 0;
  std::string firstCode;
  auto rs = db.Call("GetUserProjectsRs", {Variant(userId)}).ToObject();
  EachRecord(rs, [&](automation::Object& row) {
    const int32_t id = FieldLong(row, "ProjectId", 0);
    if (firstCode.empty()) firstId = id, firstCode = FieldText(row, "ProjectCode");
    if (id == asked) found = true, c.caption = FieldText(row, "ProjectCode");
  });
  if (found) {
    c.projectId = asked;
  } else if (withAll) {
    c.projectId = -1;
  } else {
    c.projectId = firstId, c.caption = firstCode;
  }
  if (withAll) {
    c.options = std::string("<option value = \"-1\"") + (c.projectId == -1 ? " selected" : "") +
                ">All projects</option>\r\n";
    if (c.projectId == -1) c.caption = "All projects";
  }
  if (rs) c.options += OptionList(rs, "ProjectId", "ProjectCode", std::to_string(c.projectId));
  return c;
}

std::string OptionList(const ObjectPtr& rs, const std::string& idField, const std::string& displayField,
                       const std::string& selected) {
  return automation::CreateObject("Brisquel.UIHelpers")
      ->Call("OptionList", {Obj(rs), Variant(idField), Variant(displayField), Variant(selected)})
      .ToString();
}

std::string LayoutOptions(automation::Object& db, const std::string& userId, const std::string& selected) {
  return OptionList(db.Call("GetSummaryLayoutsRs", {Variant(userId)}).ToObject(), "LayoutName", "LayoutName",
                    selected);
}

std::string ListHtml(PageContext& page, const ListCall& call) {
  auto list = page.Create("Brisquel.IssuesList");
  const ListState& s = call.state;
  std::string out = list->Call("List", {Obj(call.db), Obj(call.rs), Variant(call.thisUrl),
                                        Variant(page.Url("/Issues/Issue.asp")), Variant(page.UserId()),
                                        Variant(s.projectId), Variant(call.navSource), Variant(call.navQS),
                                        Variant(s.layout), Variant(s.orderBy), Variant(int32_t{s.orderSeq}),
                                        Variant(int32_t{s.pageNum}),
                                        // The argument is 16-bit; a list cannot page by 0 or fewer.
                                        Variant(std::clamp<int32_t>(call.pageSize, 1, INT16_MAX)),
                                        Variant(call.selection), Variant(s.prefix)})
                            .ToString();
  out += "\r\n";
  // List set the page size, clamped as it clamps it.
  const int32_t pageCount = AtEnd(*call.rs) && call.rs->Get("BOF").ToBool()
                                ? 0
                                : call.rs->Get("PageCount").ToLong();
  if (pageCount > 1 && call.pageHref) out += PageLinks(call, pageCount);
  return out;
}

std::string ShownMessage(const std::string& message) {
  constexpr std::string_view kUnexpected = "An unexpected error has occurred.";
  if (!message.starts_with(kUnexpected)) return message;
  std::string shown(kUnexpected);
  constexpr std::string_view kNumber = "Error number: ";
  if (size_t at = message.find(kNumber); at != std::string::npos) {
    at += kNumber.size();
    const size_t end = message.find_first_not_of("-0123456789", at);
    shown += " (Error number: " + message.substr(at, end == std::string::npos ? end : end - at) + ")";
  }
  return shown;
}

std::string ErrorParagraph(std::string_view id, const std::string& message) {
  std::string text = HtmlText(ShownMessage(message));
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.replace(at, 2, "<br>");
  return "<p class=ErrorText id=" + HtmlAttribute(id) + ">" + text + "</p>\r\n";
}

std::string ListScript() {
  return R"(<script>
function chkIssue_Click() {
  var boxes = document.getElementsByName('chkIssue'), any = false;
  for (var i = 0; i < boxes.length; i++) if (boxes[i].checked) any = true;
  var button = document.getElementById('cmdReassign');
  if (button) button.disabled = !any;
}
function IssueCell() { return window.event ? window.event.currentTarget : null; }
function IssueId_Click() {
  var cell = IssueCell(); if (!cell) return;
  var link = cell.getElementsByTagName('a')[0];
  if (link && !link.contains(window.event.target)) location.href = link.href;
}
function IssueId_MouseOver() { var cell = IssueCell(); if (cell) cell.style.cursor = 'pointer'; }
function IssueId_MouseOut() { var cell = IssueCell(); if (cell) cell.style.cursor = ''; }
chkIssue_Click();
</script>
)";
}

std::string PrinterList(PageContext& page, const std::string& pageHeader, const ObjectPtr& db, const ObjectPtr& rs,
                        const ListState& state) {
  return page.Create("Brisquel.IssuesList")
      ->Call("PrinterFriendly", {Obj(db), Obj(rs), Variant(pageHeader), Variant(page.UserId()), Variant(state.layout),
                                 Variant(state.orderBy), Variant(int32_t{state.orderSeq})})
      .ToString();
}

void SendPrinterDocument(PageContext& page, std::string_view title, const std::string& list) {
  // No DOCTYPE, as every page of the site: the list's unitless lengths need quirks mode.
  const std::string html = "<html>\r\n<head>\r\n"
                           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
                           "<title>" + HtmlText(title) + "</title>\r\n"
                           "<link rel=\"stylesheet\" type=\"text/css\" href=\"" +
                           HtmlAttribute(page.Url("/vantrel.css")) + "\">\r\n</head>\r\n<body>\r\n" + list +
                           "\r\n</body>\r\n</html>\r\n";
  page.SendText("text/html; charset=utf-8", html);
}

void SendDownload(PageContext& page, const ObjectPtr& db, const ObjectPtr& rs, const std::string& layout) {
  const std::string text = page.Create("Brisquel.IssuesList")
                               ->Call("DataFile", {Obj(db), Obj(rs), Variant(page.UserId()), Variant(layout)})
                               .ToString();
  page.SetHeader("Content-Disposition", "attachment; filename=\"issues.csv\"");
  page.SendText("text/csv; charset=utf-8", text);
}

void SendRefusal(PageContext& page, automation::Object& db) {
  page.SendPage("Issue list", ErrorParagraph("ListError", db.Get("LastErrorMessage").ToText()));
}

}  // namespace site::lists

// /Search/Search.asp: the issues whose text holds some words (open ones, or closed ones too), or
// the issue of a number, in one project or all of the user's projects; its printer page and its
// download.

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
using namespace lists;

constexpr std::string_view kPath = "/Search/Search.asp";
constexpr const char* kNoCriteria = "Type the words to search for, or an issue number.";
constexpr const char* kBadNumber = "The issue number must be a whole number.";

struct SearchState {
  ObjectPtr db;
  std::string words, issueNumber;
  bool includeClosed = false;
  ProjectChoice project;
  ListState state;
  int32_t pageSize = 20;
  ObjectPtr rs;         // Nothing when nothing was searched or the reader refused
  std::string problem;  // why there is no list, when it is the page's own reason
};

void RunSearch(PageContext& page, SearchState& s) {
  if (!s.issueNumber.empty()) {
    const std::optional<int32_t> id = WholeNumber(s.issueNumber);
    if (!id) {
      s.problem = kBadNumber;
      return;
    }
    // One issue: its list is in issue order.
    s.state.orderBy = "Issues.IssueId", s.state.orderSeq = 0;
    s.rs = s.db->Call("FindIssueByIdRs", {Variant(page.UserId()), Variant(s.project.projectId), Variant(*id)})
               .ToObject();
  } else if (!s.words.empty()) {
    s.rs = s.db->Call("FindIssueByTextRs", {Variant(page.UserId()), Variant(s.project.projectId),
                                            Variant(s.includeClosed), Variant(s.state.orderBy),
                                            Variant(int32_t{s.state.orderSeq}), Variant(s.words)})
               .ToObject();
  } else {
    s.problem = kNoCriteria;
    return;
  }
  if (!s.rs) s.problem = s.db->Get("LastErrorMessage").ToText();
}

SearchState ReadSearch(PageContext& page) {
  SearchState s;
  s.db = page.Database();
  const UserSettings settings = ReadUserSettings(*s.db, page.UserId());
  s.words = page.Query("Words");
  s.issueNumber = page.Query("IssueNumber");
  s.includeClosed = !page.Query("IncludeClosed").empty();
  s.project = ChooseProject(*s.db, page.UserId(), QueryNumber(page, "ProjectId", settings.defaultProject), true);
  s.state = ReadListState(page, *s.db, "", settings.defaultLayout);
  s.state.projectId = s.project.projectId;
  s.pageSize = settings.searchNumIssues;
  RunSearch(page, s);
  return s;
}

// The search itself as the list's links carry it.
std::string SearchQuery(const SearchState& s) {
  std::string q = "Words=" + UrlComponent(s.words) + "&IssueNumber=" + UrlComponent(s.issueNumber);
  if (s.includeClosed) q += "&IncludeClosed=1";
  return q;
}

std::string SearchForm(PageContext& page, const SearchState& s) {
  return "<form name=fSearch method=get action=\"" + HtmlAttribute(page.Url(kPath)) +
         "\">\r\n<table cellpadding=2><tr>"
         "<td class=FormLabels>Words</td><td class=FormFields><input id=Words name=Words size=30 value=\"" +
         HtmlAttribute(s.words) +
         "\"></td>"
         "<td class=FormLabels>Issue number</td><td class=FormFields>"
         "<input id=IssueNumber name=IssueNumber size=8 value=\"" +
         HtmlAttribute(s.issueNumber) +
         "\"></td>"
         "<td class=FormFields><input type=checkbox id=IncludeClosed name=IncludeClosed value=1" +
         (s.includeClosed ? " checked" : "") +
         "><label for=IncludeClosed>Closed issues too</label></td></tr><tr>"
         "<td class=FormLabels>Project</td><td class=FormFields><select id=ProjectId name=ProjectId>" +
         s.project.options +
         "</select></td>"
         "<td class=FormLabels>Layout</td><td class=FormFields><select id=Layout name=Layout>" +
         LayoutOptions(*s.db, page.UserId(), s.state.layout) +
         "</select></td>"
         "<td class=FormFields><input type=submit id=Search value=\"Search\"></td></tr></table>\r\n</form>\r\n";
}

void SearchPage(PageContext& page) {
  SearchState s = ReadSearch(page);
  std::string body = SearchForm(page, s);
  if (s.rs) {
    const std::string base = page.Url(kPath) + "?" + SearchQuery(s) + "&ProjectId=" + std::to_string(s.project.projectId);
    ListCall call{s.db, s.rs, page.Url(kPath), "Search", SearchQuery(s), s.state, s.pageSize, false,
                  [&](int16_t p) { return base + "&" + StateQuery(s.state, p); }};
    body += ListHtml(page, call);
  } else if (s.problem != kNoCriteria) {
    body += ErrorParagraph("ListError", s.problem);
  }
  body += ListScript();
  body += "<script>document.fSearch.Words.focus();</script>\r\n";
  page.SendPage("Search", body);
}

void PrinterPage(PageContext& page) {
  SearchState s = ReadSearch(page);
  if (!s.rs) return page.SendPage("Search", ErrorParagraph("ListError", s.problem));
  std::string what = s.issueNumber.empty() ? "Issues holding \"" + s.words + "\"" : "Issue " + s.issueNumber;
  const std::string header = "<span class=PageTitle>Search</span><br><span class=FormLabels>" + HtmlText(what) +
                             " - " + HtmlText(s.project.caption) + "</span>";
  SendPrinterDocument(page, "Search", PrinterList(page, header, s.db, s.rs, s.state));
}

void DownloadPage(PageContext& page) {
  SearchState s = ReadSearch(page);
  if (!s.rs) return page.SendPage("Search", ErrorParagraph("ListError", s.problem));
  SendDownload(page, s.db, s.rs, s.state.layout);
}

AddPage search(std::string(kPath), {.get = SearchPage});
AddPage printer("/Search/SearchPrinterFriendly.asp", {.get = PrinterPage});
AddPage download("/Search/SearchDownload.asp", {.get = DownloadPage});

}  // namespace

}  // namespace site

// /Reports/DailySummary.asp?ProjectId=N&DateRange=...: who changed issues in a short period. For
// the team (the members of the project, or of every project of the user) and for the public users,
// how many issues each touched and how many changes he made, then the issues each one changed.
// /Reports/DailySummaryPrinterFriendly.asp: the same for printing, without the menu; the menu's
// block links it with the page's own query.
#include <string>
#include <vector>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/issue_lists.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using lists::ObjectPtr;

constexpr std::string_view kPath = "/Reports/DailySummary.asp";
constexpr const char* kRanges[] = {"Today", "Yesterday", "This week", "Last week", "This month", "Last month"};

struct Summary {
  ObjectPtr db;
  lists::ProjectChoice project;
  std::string range;
  struct Person {
    std::string userId, issues, changes;
  };
  std::vector<Person> team, publicUsers;
};

std::vector<Summary::Person> People(const ObjectPtr& rs) {
  std::vector<Summary::Person> out;
  for (; !AtEnd(*rs); rs->Call("MoveNext"))
    out.push_back({FieldText(*rs, "UserId"), FieldText(*rs, "NumIssues"), FieldText(*rs, "NumChanges")});
  return out;
}

// A period the reports know; any other asks for today.
std::string ChooseRange(const std::string& asked) {
  for (const char* r : kRanges)
    if (automation::EqualsNoCase(asked, r)) return r;
  return kRanges[0];
}

// Nothing when the page has answered already: the public users have no reports.
std::optional<Summary> ReadSummary(PageContext& page) {
  Summary s;
  s.db = page.Database();
  const Variant user(page.UserId());
  if (s.db->Call("UserIsPublic", {user}).ToBool()) {
    forms::SendForbidden(page);
    return std::nullopt;
  }
  s.project = lists::ChooseProject(*s.db, page.UserId(), QueryNumber(page, "ProjectId", -1), true);
  s.range = ChooseRange(page.Query("DateRange"));
  const std::vector<Variant> args{Variant(s.project.projectId), user, Variant(s.range)};
  s.team = People(s.db->Call("GetDailySummaryRs", args).ToObject());
  s.publicUsers = People(s.db->Call("GetPublicDailySummaryRs", args).ToObject());
  return s;
}

std::string ChoiceForm(PageContext& page, const Summary& s) {
  std::string ranges;
  for (const char* r : kRanges)
    ranges += "<option value=\"" + HtmlAttribute(r) + "\"" + (s.range == r ? " selected" : "") + ">" + HtmlText(r) +
              "</option>";
  return "<form name=fDailySummary method=get action=\"" + HtmlAttribute(page.Url(kPath)) +
         "\">\r\n<table cellpadding=2><tr>"
         "<td class=FormLabels>Project</td><td class=FormFields><select id=ProjectId name=ProjectId "
         "onchange='document.fDailySummary.submit()'>" +
         s.project.options +
         "</select></td>"
         "<td class=FormLabels>Period</td><td class=FormFields><select id=DateRange name=DateRange "
         "onchange='document.fDailySummary.submit()'>" +
         ranges +
         "</select></td><td class=FormFields><input type=submit id=Show value=\"Show\"></td></tr></table>\r\n"
         "</form>\r\n";
}

// The element of a user's issues: user ids may hold any character, element ids of the page not.
std::string Anchor(const std::string& userId) { return "ChangedBy_" + UrlComponent(userId); }

// The counts of one group of users, each name leading to the issues he changed.
std::string CountTable(std::string_view id, std::string_view title, const std::vector<Summary::Person>& people) {
  std::string out = "<p class=FormLabels>" + std::string(title) + "</p>\r\n<table id=" + std::string(id) +
                    " cellpadding=2>\r\n<tr><td class=FormLabels>User</td><td class=FormLabels>Issues</td>"
                    "<td class=FormLabels>Changes</td></tr>\r\n";
  for (const Summary::Person& p : people) {
    const std::string name = p.changes == "0" ? HtmlText(p.userId)
                                              : "<a href=\"#" + HtmlAttribute(Anchor(p.userId)) + "\">" +
                                                    HtmlText(p.userId) + "</a>";
    out += "<tr><td class=FormFields>" + name + "</td><td class=FormFields>" + HtmlText(p.issues) +
           "</td><td class=FormFields>" + HtmlText(p.changes) + "</td></tr>\r\n";
  }
  if (people.empty()) out += "<tr><td class=FormFields colspan=3>Nobody.</td></tr>\r\n";
  return out + "</table>\r\n";
}

// The issues one user changed in the period.
std::string DetailTable(PageContext& page, const Summary& s, const std::string& userId) {
  auto rs = s.db->Call("GetDailyDetailRs", {Variant(s.project.projectId), Variant(page.UserId()), Variant(userId),
                                            Variant(s.range)})
                .ToObject();
  std::string out = "<p class=FormLabels id=\"" + HtmlAttribute(Anchor(userId)) + "\">Changed by " +
                    HtmlText(userId) + "</p>\r\n<table class=DailyDetail cellpadding=2>\r\n<tr>";
  for (const char* h : {"Issue", "Project", "Resolution", "Status", "Priority", "Summary"})
    out += std::string("<td class=FormLabels>") + h + "</td>";
  out += "</tr>\r\n";
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string issueId = FieldText(*rs, "IssueId");
    out += "<tr><td class=FormFields><a href=\"" +
           HtmlAttribute(page.Url("/Issues/Issue.asp?IssueId=" + UrlComponent(issueId))) + "\">" + HtmlText(issueId) +
           "</a></td>";
    for (const char* c : {"ProjectCode", "ResolutionCode", "StatusCode", "PriorityCode", "Summary"})
      out += "<td class=FormFields>" + HtmlText(FieldText(*rs, c)) + "</td>";
    out += "</tr>\r\n";
  }
  return out + "</table>\r\n";
}

std::string Report(PageContext& page, const Summary& s) {
  std::string out = CountTable("TeamSummary", "Team", s.team);
  out += CountTable("PublicSummary", "Public users", s.publicUsers);
  for (const auto* group : {&s.team, &s.publicUsers})
    for (const Summary::Person& p : *group)
      if (p.changes != "0") out += DetailTable(page, s, p.userId);
  return out;
}

void DailySummaryPage(PageContext& page) {
  const std::optional<Summary> s = ReadSummary(page);
  if (!s) return;
  if (s->project.projectId > 0) page.SetProjectId(s->project.projectId);
  page.SendPage("Daily Summary", "<div id=ReportTitle class=box2>Daily Summary</div>\r\n" + ChoiceForm(page, *s) +
                                     Report(page, *s));
}

void PrinterPage(PageContext& page) {
  page.OmitMenu();
  const std::optional<Summary> s = ReadSummary(page);
  if (!s) return;
  lists::SendPrinterDocument(page, "Daily Summary",
                             "<span class=PageTitle>Daily Summary</span><br><span class=FormLabels>" +
                                 HtmlText(s->project.caption) + ", " + HtmlText(s->range) + "</span>\r\n" +
                                 Report(page, *s));
}

AddPage summary(std::string(kPath), {.get = DailySummaryPage});
AddPage printer("/Reports/DailySummaryPrinterFriendly.asp", {.get = PrinterPage});

}  // namespace

}  // namespace site

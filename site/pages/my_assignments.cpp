// /Assignments/MyAssignments.asp: the issues of a filter (the user's own open issues at first) in
// one project or all of his projects, a page of them at a time, with boxes to tick and a form that
// reassigns the ticked issues; its printer page and its download.
#include <set>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/issue_lists.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::EqualsNoCase;
using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using brisquel::encode::UrlComponent;
using namespace lists;

constexpr std::string_view kPath = "/Assignments/MyAssignments.asp";

// The filter of the page as a filter text: "s:" and "u:" texts as the links carry them, the text
// of an option of the filter box, else the user's default filter, else his own open issues.
std::string FilterOf(const std::string& asked, const std::string& me, const UserSettings& settings) {
  const std::string f = asked.empty() ? settings.defaultFilter : asked;
  const std::string prefix = f.substr(0, 2);
  if (EqualsNoCase(prefix, "s:") || EqualsNoCase(prefix, "u:")) return f;
  constexpr std::string_view kAssignedTo = "Assigned to ";
  if (f == "Assigned to me" || f.empty()) return "s:" + me;
  if (f == "All open issues") return "s:allopen";
  if (f == "All issues") return "s:all";
  if (f.starts_with(kAssignedTo)) return "s:" + f.substr(kAssignedTo.size());
  return "s:" + me;
}

// The text of the filter's option in the filter box; a saved filter's name.
std::string FilterCaption(const std::string& filter, const std::string& me) {
  const std::string rest = filter.substr(2);
  if (EqualsNoCase(filter.substr(0, 2), "u:")) return rest;
  if (EqualsNoCase(rest, "allopen")) return "All open issues";
  if (EqualsNoCase(rest, "all")) return "All issues";
  if (EqualsNoCase(rest, me)) return "Assigned to me";
  return "Assigned to " + rest;
}

// What the page, its printer page and its download read from the request.
struct Assignments {
  ObjectPtr db;
  std::string filter;
  ProjectChoice project;
  ListState state;
  int32_t pageSize = 20;
  ObjectPtr rs;  // Nothing when the reader refused the filter or the order
};

Assignments ReadAssignments(PageContext& page) {
  Assignments a;
  a.db = page.Database();
  const UserSettings settings = ReadUserSettings(*a.db, page.UserId());
  a.filter = FilterOf(page.Query("Filter"), page.UserId(), settings);
  a.project = ChooseProject(*a.db, page.UserId(), QueryNumber(page, "ProjectId", settings.defaultProject), true);
  a.state = ReadListState(page, *a.db, "", settings.defaultLayout);
  a.state.projectId = a.project.projectId;
  a.pageSize = settings.myAssignmentNumIssues;
  a.rs = a.db->Call("GetFilteredIssuesRs", {Variant(a.project.projectId), Variant(a.filter), Variant(page.UserId()),
                                            Variant(a.state.orderBy), Variant(int32_t{a.state.orderSeq})})
             .ToObject();
  return a;
}

std::string ListQuery(const Assignments& a, int16_t pageNum) {
  return "Filter=" + UrlComponent(a.filter) + "&ProjectId=" + std::to_string(a.project.projectId) + "&" +
         StateQuery(a.state, pageNum);
}

// The users of the project (of all the user's projects for -1): the filter box and the assignees.
ObjectPtr ProjectUsers(PageContext& page, const Assignments& a) {
  if (a.project.projectId == -1) return a.db->Call("GetUserProjectsUsersRs", {Variant(page.UserId())}).ToObject();
  return a.db->Call("GetProjectUsersRs", {Variant(a.project.projectId)}).ToObject();
}

std::string FilterForm(PageContext& page, const Assignments& a, const ObjectPtr& users) {
  const bool saved = EqualsNoCase(a.filter.substr(0, 2), "u:");
  const std::string caption = FilterCaption(a.filter, page.UserId());
  std::string filters = page.Create("Brisquel.UIHelpers")
                            ->Call("FilterOptionList", {Variant(std::to_string(a.project.projectId)),
                                                        Variant(page.UserId()), Variant(users),
                                                        Variant(saved ? std::string() : caption)})
                            .ToString();
  auto rs = a.db->Call("GetSummaryFiltersRs", {Variant(page.UserId())}).ToObject();
  EachRecord(*rs, [&](automation::Object& row) {
    const std::string name = FieldText(row, "FilterName");
    filters += "<option value=\"" + HtmlAttribute("u:" + name) + "\"" + (saved && name == caption ? " selected" : "") +
               ">" + HtmlText(name) + "</option>";
  });
  const std::string submit = " onchange='document.fFilter.submit()'";
  return "<form name=fFilter method=get action=\"" + HtmlAttribute(page.Url(kPath)) +
         "\">\r\n<table cellpadding=2><tr>"
         "<td class=FormLabels>Filter</td><td class=FormFields><select id=Filter name=Filter" +
         submit + ">" + filters + "</select> <a id=FiltersLink href=\"" +
         HtmlAttribute(page.Url("/User/Filters.asp")) + "\">Filters...</a></td>"
         "<td class=FormLabels>Project</td><td class=FormFields><select id=ProjectId name=ProjectId" +
         submit + ">" + a.project.options +
         "</select></td>"
         "<td class=FormLabels>Layout</td><td class=FormFields><select id=Layout name=Layout" +
         submit + ">" + LayoutOptions(*a.db, page.UserId(), a.state.layout) +
         "</select></td>"
         "<td class=FormFields><input type=submit id=Show value=\"Show\"></td></tr></table>\r\n</form>\r\n";
}

// The codes of the site workflow's states that an issue can move to: not the issue-create state's
// (blank) pair, which every move to it is refused.
struct TargetCodes {
  std::set<std::string> resolutions, statuses;
};
TargetCodes WorkflowTargets(automation::Object& db) {
  TargetCodes t;
  const ObjectPtr workflow = db.Call("GetSiteWorkflowRs").ToObject();
  if (AtEnd(*workflow)) return t;
  const ObjectPtr states = db.Call("GetWorkflowStatesRs", {FieldValue(*workflow, "WorkflowId")}).ToObject();
  for (; !AtEnd(*states); states->Call("MoveNext")) {
    if (FieldValue(*states, "StateType").ToLong() != 0) continue;
    t.resolutions.insert(FieldText(*states, "ResolutionCode"));
    t.statuses.insert(FieldText(*states, "StatusCode"));
  }
  return t;
}

// The code table's rows, in its order, that are among `offered`.
std::string CodeOptions(const ObjectPtr& rs, const char* column, const std::set<std::string>& offered) {
  std::string out;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string code = FieldText(*rs, column);
    if (offered.count(code))
      out += "<option value = \"" + HtmlAttribute(code) + "\">" + HtmlText(code) + "</option>\r\n";
  }
  return out;
}

std::string ReassignBoxes(const Assignments& a, const ObjectPtr& users) {
  auto box = [](const char* name, const std::string& options) {
    return std::string("<td class=FormFields><select id=") + name + " name=" + name + ">" + options +
           "</select></td>";
  };
  const TargetCodes targets = WorkflowTargets(*a.db);
  return "<table id=Reassign cellpadding=2><tr><td class=FormLabels>Reassign the ticked issues to</td>"
         "<td class=FormLabels>Resolution</td>" +
         box("cmbResolution",
             CodeOptions(a.db->Call("GetResolutionsRs").ToObject(), "ResolutionCode", targets.resolutions)) +
         "<td class=FormLabels>Status</td>" +
         box("cmbStatus", CodeOptions(a.db->Call("GetStatusCodesRs").ToObject(), "StatusCode", targets.statuses)) +
         "<td class=FormLabels>Assigned to</td>" + box("cmbAssignedTo", OptionList(users, "UserId", "UserId", "")) +
         "<td class=FormFields><input type=submit id=cmdReassign value=\"Reassign\" disabled></td></tr></table>\r\n";
}

void SendAssignments(PageContext& page, const Assignments& a, const std::string& message) {
  const ObjectPtr users = ProjectUsers(page, a);
  std::string body = FilterForm(page, a, users);
  if (!message.empty()) body += ErrorParagraph("ReassignError", message);
  if (!a.rs) {
    body += ErrorParagraph("ListError", a.db->Get("LastErrorMessage").ToText());
  } else {
    ListCall call{a.db, a.rs, page.Url(kPath), "MyAssignments", "Filter=" + UrlComponent(a.filter), a.state,
                  a.pageSize, true,
                  [&](int16_t p) { return page.Url(kPath) + "?" + ListQuery(a, p); }};
    body += "<form name=fReassign method=post enctype=\"multipart/form-data\" action=\"" +
            HtmlAttribute(page.Url(kPath) + "?" + ListQuery(a, a.state.pageNum)) + "\">\r\n" + page.TokenField() +
            "\r\n" + ListHtml(page, call) + ReassignBoxes(a, users) + "</form>\r\n";
  }
  body += ListScript();
  page.SendPage("My Issues", body);
}

void MyAssignmentsPage(PageContext& page) { SendAssignments(page, ReadAssignments(page), ""); }

// The ticked issues go to MassReassign; the list is shown again, with its refusal if any.
void MyAssignmentsPost(PageContext& page) {
  auto db = page.Database();
  auto form = page.FormData();
  if (form && db->Call("MassReassign", {Variant(page.UserId()), Variant(form)}).ToBool()) {
    page.Redirect(page.Target());
    return;
  }
  const std::string message =
      form ? db->Get("LastErrorMessage").ToText() : std::string("The reassignment form was not sent as a form.");
  SendAssignments(page, ReadAssignments(page), message);
  if (!form) page.SetStatus(400);
}

void PrinterPage(PageContext& page) {
  const Assignments a = ReadAssignments(page);
  if (!a.rs) return SendRefusal(page, *a.db);
  const std::string header = "<span class=PageTitle>My Issues</span><br><span class=FormLabels>" +
                             HtmlText(FilterCaption(a.filter, page.UserId())) + " - " +
                             HtmlText(a.project.caption) + "</span>";
  SendPrinterDocument(page, "My Issues", PrinterList(page, header, a.db, a.rs, a.state));
}

void DownloadPage(PageContext& page) {
  const Assignments a = ReadAssignments(page);
  if (!a.rs) return SendRefusal(page, *a.db);
  SendDownload(page, a.db, a.rs, a.state.layout);
}

AddPage list(std::string(kPath), {.get = MyAssignmentsPage, .post = MyAssignmentsPost});
AddPage printer("/Assignments/MyAssignmentsPrinterFriendly.asp", {.get = PrinterPage});
AddPage download("/Assignments/MyAssignmentsDownload.asp", {.get = DownloadPage});

}  // namespace

}  // namespace site

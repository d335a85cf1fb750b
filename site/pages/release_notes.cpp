// /Reports/ReleaseNotes.asp: for one project and build, the issues still known in it and the issues
// corrected since the previous release, each list with its own layout and pages ("k" and "c"
// before their query names); the printer page of both and the download of either.
#include <vector>

#include "automation/text.h"
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

constexpr std::string_view kPath = "/Reports/ReleaseNotes.asp";
constexpr const char* kNoBuildFields =
    "Release notes need the issue fields DetectedInBuildCode and VerifiedInBuildCode.";

struct ReleaseNotes {
  ObjectPtr db;
  ProjectChoice project;
  std::vector<std::string> builds;  // the project's builds, in their order
  std::string build, prevBuild;
  ListState known, corrected;
  int32_t pageSize = 20;
  ObjectPtr knownRs, correctedRs;  // Nothing without builds
};

// The asked-for build when the project has it, else `fallback`.
// Why a project shows no release notes.
std::string Problem(const ReleaseNotes& r) {
  if (!r.db->Call("CanDoReleaseNotes").ToBool()) return kNoBuildFields;
  if (r.project.projectId <= 0) return "You are not a member of any project.";
  return "The project has no builds.";
}

std::string ChooseBuild(const std::vector<std::string>& builds, const std::string& asked, const std::string& fallback) {
  for (const std::string& b : builds)
    if (b == asked) return b;
  return fallback;
}

ReleaseNotes ReadReleaseNotes(PageContext& page) {
  ReleaseNotes r;
  r.db = page.Database();
  const UserSettings settings = ReadUserSettings(*r.db, page.UserId());
  r.project = ChooseProject(*r.db, page.UserId(), QueryNumber(page, "ProjectId", settings.defaultProject), false);
  r.known = ReadListState(page, *r.db, "k", settings.defaultLayout);
  r.corrected = ReadListState(page, *r.db, "c", settings.defaultLayout);
  r.known.projectId = r.corrected.projectId = r.project.projectId;
  // Both lists are in issue order, as the readers give them.
  for (ListState* s : {&r.known, &r.corrected}) s->orderBy = "Issues.IssueId", s->orderSeq = 0;
  r.pageSize = settings.releaseNotesNumIssues;
  if (!r.db->Call("CanDoReleaseNotes").ToBool() || r.project.projectId <= 0) return r;
  auto rs = r.db->Call("GetCodesRs", {Variant(page.UserId()), Variant("ProjectBuilds"), Variant(r.project.projectId)})
                .ToObject();
  EachRecord(*rs, [&](automation::Object& row) {
    if (std::string b = FieldText(row, "BuildCode"); !b.empty()) r.builds.push_back(b);
  });
  if (r.builds.empty()) return r;
  // At first the latest build, against the one before it.
  r.build = ChooseBuild(r.builds, page.Query("Build"), r.builds.back());
  r.prevBuild = ChooseBuild(r.builds, page.Query("PrevBuild"), r.builds.size() > 1 ? r.builds[r.builds.size() - 2] : "");
  const std::vector<Variant> args{Variant(r.project.projectId), Variant(r.build), Variant(r.prevBuild)};
  r.knownRs = r.db->Call("GetReleaseNotesKnownRs", args).ToObject();
  r.correctedRs = r.db->Call("GetReleaseNotesCorrectedRs", args).ToObject();
  return r;
}

std::string PageQuery(const ReleaseNotes& r, const ListState& known, const ListState& corrected, int16_t kPage,
                      int16_t cPage) {
  return "ProjectId=" + std::to_string(r.project.projectId) + "&Build=" + UrlComponent(r.build) +
         "&PrevBuild=" + UrlComponent(r.prevBuild) + "&" + StateQuery(known, kPage) + "&" +
         StateQuery(corrected, cPage);
}

std::string BuildOptions(const ReleaseNotes& r, const std::string& selected) {
  std::string out = "<option value=\"\"></option>";
  for (const std::string& b : r.builds)
    out += "<option value=\"" + HtmlAttribute(b) + "\"" + (b == selected ? " selected" : "") + ">" + HtmlText(b) +
           "</option>";
  return out;
}

std::string ChoiceForm(PageContext& page, const ReleaseNotes& r) {
  auto layoutBox = [&](const ListState& s) {
    return "<select id=" + s.prefix + "Layout name=" + s.prefix + "Layout>" +
           LayoutOptions(*r.db, page.UserId(), s.layout) + "</select>";
  };
  return "<form name=fReleaseNotes method=get action=\"" + HtmlAttribute(page.Url(kPath)) +
         "\">\r\n<table cellpadding=2><tr>"
         "<td class=FormLabels>Project</td><td class=FormFields><select id=ProjectId name=ProjectId "
         "onchange='document.fReleaseNotes.submit()'>" +
         r.project.options +
         "</select></td>"
         "<td class=FormLabels>Build</td><td class=FormFields><select id=Build name=Build>" +
         BuildOptions(r, r.build) +
         "</select></td>"
         "<td class=FormLabels>Previous release</td><td class=FormFields><select id=PrevBuild name=PrevBuild>" +
         BuildOptions(r, r.prevBuild) +
         "</select></td></tr><tr>"
         "<td class=FormLabels>Known issues</td><td class=FormFields>" +
         layoutBox(r.known) + "</td><td class=FormLabels>Corrected issues</td><td class=FormFields>" +
         layoutBox(r.corrected) +
         "</td><td class=FormFields><input type=submit id=Show value=\"Show\"></td></tr></table>\r\n</form>\r\n";
}

std::string Section(PageContext& page, const ReleaseNotes& r, const char* title, const ObjectPtr& rs,
                    const ListState& s) {
  const bool known = &s == &r.known;
  ListCall call{r.db, rs, "", "ReleaseNotes", "", s, r.pageSize, false, [&](int16_t p) {
                  return page.Url(kPath) + "?" +
                         PageQuery(r, r.known, r.corrected, known ? p : r.known.pageNum,
                                   known ? r.corrected.pageNum : p);
                }};
  return "<p class=FormLabels id=" + s.prefix + "Title>" + title + "</p>\r\n" + ListHtml(page, call);
}

void ReleaseNotesPage(PageContext& page) {
  const ReleaseNotes r = ReadReleaseNotes(page);
  std::string body = ChoiceForm(page, r);
  if (r.knownRs && r.correctedRs) {
    body += Section(page, r, "Known issues", r.knownRs, r.known);
    body += Section(page, r, "Corrected issues", r.correctedRs, r.corrected);
  } else {
    body += ErrorParagraph("ListError", Problem(r));
  }
  body += ListScript();
  page.SendPage("Release Notes", body);
}

std::string PrinterHeader(const ReleaseNotes& r, const char* title) {
  return "<span class=PageTitle>" + std::string(title) + "</span><br><span class=FormLabels>" +
         HtmlText(r.project.caption) + " " + HtmlText(r.build) + " (previous release: " + HtmlText(r.prevBuild) +
         ")</span>";
}

void PrinterPage(PageContext& page) {
  const ReleaseNotes r = ReadReleaseNotes(page);
  if (!r.knownRs || !r.correctedRs) return page.SendPage("Release Notes", ErrorParagraph("ListError", Problem(r)));
  SendPrinterDocument(page, "Release Notes",
                      PrinterList(page, PrinterHeader(r, "Known issues"), r.db, r.knownRs, r.known) + "<br>\r\n" +
                          PrinterList(page, PrinterHeader(r, "Corrected issues"), r.db, r.correctedRs, r.corrected));
}

// Kind "fixed": the corrected issues; otherwise the known ones.
void DownloadPage(PageContext& page) {
  const ReleaseNotes r = ReadReleaseNotes(page);
  if (!r.knownRs || !r.correctedRs) return page.SendPage("Release Notes", ErrorParagraph("ListError", Problem(r)));
  const bool fixed = automation::EqualsNoCase(page.Query("Kind"), "fixed");
  SendDownload(page, r.db, fixed ? r.correctedRs : r.knownRs, fixed ? r.corrected.layout : r.known.layout);
}

AddPage notes(std::string(kPath), {.get = ReleaseNotesPage});
AddPage printer("/Reports/ReleaseNotesPrinterFriendly.asp", {.get = PrinterPage});
AddPage download("/Reports/ReleaseNotesDownload.asp", {.get = DownloadPage});

}  // namespace

}  // namespace site

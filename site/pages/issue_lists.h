// What the issue list pages (my issues, search, release notes) share: the user's list settings,
// the state a list's links carry, the boxes above a list, one page of a list with its page links,
// and the printer page and the download of a list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/automation.h"
#include "site/pages/records.h"

namespace site {

class PageContext;

namespace lists {

using ObjectPtr = std::shared_ptr<automation::Object>;

// The user's own settings that the list pages start from.
struct UserSettings {
  std::string defaultFilter, defaultLayout = "Default";
  int32_t defaultProject = -1;
  int32_t myAssignmentNumIssues = 20, searchNumIssues = 20, releaseNotesNumIssues = 20;
};
UserSettings ReadUserSettings(automation::Object& db, const std::string& userId);

// The state of one list as its links carry it. `prefix` tells two lists of one page apart
// ("kLayout", "cLayout"); the project is the page's.
struct ListState {
  std::string prefix;
  std::string layout;
  int32_t projectId = -1;
  std::string orderBy = "Issues.IssueId";
  int16_t orderSeq = 0;
  int16_t pageNum = 1;
};
// Layout, order and page from the query (with the prefix); the layout is one of the user's own.
ListState ReadListState(PageContext& page, automation::Object& db, std::string_view prefix,
                        const std::string& defaultLayout);
// "Layout=...&OrderBy=...&OrderSeq=...&PageNum=..." with the prefix, each value a URL component.
std::string StateQuery(const ListState& s, int16_t pageNum);

// The project box: the user's projects (and "All projects" for -1 when `withAll`). The asked-for
// project when the user may use it, else -1 (with `withAll`) or the user's first project.
struct ProjectChoice {
  int32_t projectId = -1;
  std::string caption;  // the project's code, or "All projects"
  std::string options;  // <option> elements
};
ProjectChoice ChooseProject(automation::Object& db, const std::string& userId, int32_t asked, bool withAll);

// <option> elements of the user's layouts, `selected` marked.
std::string LayoutOptions(automation::Object& db, const std::string& userId, const std::string& selected);
// UIHelpers.OptionList of a recordset.
std::string OptionList(const ObjectPtr& rs, const std::string& idField, const std::string& displayField,
                       const std::string& selected);

// One page of a list and its page links.
struct ListCall {
  ObjectPtr db, rs;
  std::string thisUrl;  // "" writes the headings without sort links
  std::string navSource, navQS;
  ListState state;
  int32_t pageSize = 20;
  bool selection = false;
  std::function<std::string(int16_t pageNum)> pageHref;  // the URL of another page of the list
};
std::string ListHtml(PageContext& page, const ListCall& call);

// The text of a refusal or of a reader's report, on the page. A library's unexpected-error report
// shows its first sentence and number only, as a raised error does: the rest is the engine's own
// words, which its writing of the report put in the event log.
std::string ErrorParagraph(std::string_view id, const std::string& message);
std::string ShownMessage(const std::string& message);
// The functions the cells of a list call.
std::string ListScript();

// The printer form of a whole list, under `pageHeader` (HTML, its values already encoded).
std::string PrinterList(PageContext& page, const std::string& pageHeader, const ObjectPtr& db, const ObjectPtr& rs,
                        const ListState& state);
// A printer page: a document of its own, without the menu.
void SendPrinterDocument(PageContext& page, std::string_view title, const std::string& html);
// The list as "issues.csv".
void SendDownload(PageContext& page, const ObjectPtr& db, const ObjectPtr& rs, const std::string& layout);
// A reader's refusal on a printer page or a download: the reader's report as the page.
void SendRefusal(PageContext& page, automation::Object& db);


}  // namespace lists
}  // namespace site

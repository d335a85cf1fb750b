// /Issues/Issue.asp?IssueId=New|N: the issue entry form. One multipart form, fIssueDetail, posting
// to itself: the entry form of Brisquel.DataEntryForm with its validation script, the page's own
// resolution, assignee and status boxes (the moves the workflow offers), the issue's row as the
// writer will take it back, and the reason of a post that only redraws (a new project or state).
#include <algorithm>

#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/issue_lists.h"
#include "site/pages/issues/attachments.h"
#include "site/pages/issues/posted_attachments.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::HtmlText;
using ObjectPtr = std::shared_ptr<automation::Object>;

constexpr std::string_view kNotAllowedToCreate =
    "You are not authorized to create issues (must be a member of a project).";

// The functions the entry form's elements call; Trim is the site script's.
constexpr std::string_view kPageScript =
    "<script>\r\n"
    "function EnterInComboBox() { return true; }\r\n"
    "function IssueUpdated() { return true; }\r\n"
    "function PostBack(reason) {\r\n"
    "  document.fIssueDetail.PostBackReason.value = reason;\r\n"
    "  document.fIssueDetail.submit();\r\n"
    "  return true;\r\n"
    "}\r\n"
    "function cmbProject_onchange() { return PostBack('Project'); }\r\n"
    "function State_onchange() { return PostBack('State'); }\r\n"
    "</script>\r\n";

// The issue a request names and what this user may do with it.
struct Issue {
  ObjectPtr db;
  std::string user;
  int32_t id = -1;  // -1: a new issue
  std::string mode;  // "add", "modify" or "inquiry"
  ObjectPtr rs;      // the stored row of an existing issue
  std::string image;  // the row as the form carries it back (rsIssue)
  int32_t projectId = -1;
  std::string resolution, status, assignee;  // as stored
  bool IsNew() const { return id == -1; }
};

// The move asked for, and the boxes that offer it.
struct Target {
  std::string resolution, status, assignee;
};
struct Boxes {
  Target target;
  std::string resolutions, statuses, assignees;  // option lists
};

// The issue of the query; nothing when the page has already answered (a refusal, or 404).
std::optional<Issue> OpenIssue(PageContext& page) {
  Issue is;
  is.db = page.Database();
  is.user = page.UserId();
  const Variant user(is.user);
  const std::string asked = page.Query("IssueId");
  if (asked == "New") {
    if (!is.db->Call("CanUserCreateIssue", {user}).ToBool()) {
      page.SendPage("New Issue", "<p class=ErrorText>" + HtmlText(kNotAllowedToCreate) + "</p>", 403);
      return std::nullopt;
    }
    is.mode = "add";
    return is;
  }
  // Issues outside the user's projects are not there for him.
  const std::optional<int32_t> id = WholeNumber(asked);
  if (!id || *id < 0 || AtEnd(*is.db->Call("FindIssueByIdRs", {user, Variant(-1), Variant(*id)}).ToObject())) {
    page.SendPage("Issue", "<p class=ErrorText>The issue cannot be found.</p>", 404);
    return std::nullopt;
  }
  is.id = *id;
  is.rs = is.db->Call("GetIssueRs", {Variant(*id)}).ToObject();
  is.image = is.db->Call("rsToXml", {Variant(is.rs)}).ToString();
  is.mode = is.db->Call("UserCanModifyIssue", {user, Variant(*id)}).ToBool() ? "modify" : "inquiry";
  is.projectId = FieldValue(*is.rs, "ProjectId").ToLong();
  is.resolution = FieldText(*is.rs, "ResolutionCode");
  is.status = FieldText(*is.rs, "StatusCode");
  is.assignee = FieldText(*is.rs, "AssignedToUser");
  return is;
}

// The project a new issue is entered in: the one posted, the user's default, or the first one
// open to the user; only projects open to him count. The entry form chooses the same one.
int32_t NewIssueProject(const Issue& is, const std::string& posted) {
  std::vector<int32_t> open;
  auto projects = is.db->Call("GetUserProjectsRs", {Variant(is.user)}).ToObject();
  for (; !AtEnd(*projects); projects->Call("MoveNext")) open.push_back(FieldValue(*projects, "ProjectId").ToLong());
  auto usable = [&](std::optional<int32_t> p) { return p && std::find(open.begin(), open.end(), *p) != open.end(); };
  if (auto p = WholeNumber(posted); usable(p)) return *p;
  auto userRs = is.db->Call("GetUserRs", {Variant(is.user)}).ToObject();
  if (!AtEnd(*userRs)) {
    const Variant preferred = FieldValue(*userRs, "DefaultProject");
    if (!preferred.IsNull() && usable(preferred.ToLong())) return preferred.ToLong();
  }
  return open.empty() ? -1 : open.front();
}

// The wanted value when the column holds it, else its first value that starts with `preferred`,
// else its first value ("" without rows).
std::string Chosen(automation::Object& rs, std::string_view column, const std::string& wanted,
                   std::string_view preferred = {}) {
  std::optional<std::string> first;
  if (rs.Get("RecordCount").ToLong() > 0) rs.Call("MoveFirst");
  for (; !AtEnd(rs); rs.Call("MoveNext")) {
    std::string v = FieldText(rs, column);
    if (v == wanted) return v;
    if (!first || (!preferred.empty() && v.starts_with(preferred) && !first->starts_with(preferred)))
      first = std::move(v);
  }
  return first.value_or("");
}

// Where the move assigns automatically, that choice comes first.
constexpr std::string_view kAutomatic = "Automatic (";

std::string OptionList(automation::Object& ui, const ObjectPtr& rs, std::string_view column,
                       const std::string& selected) {
  const Variant c{std::string(column)};
  return ui.Call("OptionList", {Variant(rs), c, c, Variant(selected)}).ToString();
}

// Options of distinct texts, written as OptionList writes them.
std::string TextOptions(const std::vector<std::string>& values, const std::string& selected) {
  std::string out;
  for (const std::string& v : values)
    out += "<option" + std::string(v == selected ? " selected" : "") + " value = \"" + HtmlAttribute(v) + "\">" +
           HtmlText(v) + "</option>\r\n";
  return out;
}

// A new issue starts in a state that an action from the initial state reaches; the assignees are
// those of that action.
Boxes NewIssueBoxes(const Issue& is, int32_t projectId, const Target& wanted, automation::Object& ui) {
  struct Move {
    std::string resolution, status;
    int32_t actionId;
  };
  std::vector<Move> moves;
  std::vector<std::string> resolutions;
  auto rs = is.db->Call("GetAllowedNewResolutionRs", {Variant(projectId), Variant(is.user)}).ToObject();
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    moves.push_back({FieldText(*rs, "ResolutionCode"), FieldText(*rs, "StatusCode"), FieldValue(*rs, "ActionId").ToLong()});
    if (std::find(resolutions.begin(), resolutions.end(), moves.back().resolution) == resolutions.end())
      resolutions.push_back(moves.back().resolution);
  }
  Boxes b;
  auto has = [](const std::vector<std::string>& list, const std::string& v) {
    return std::find(list.begin(), list.end(), v) != list.end();
  };
  b.target.resolution = has(resolutions, wanted.resolution) ? wanted.resolution
                        : resolutions.empty()                ? std::string()
                                                             : resolutions.front();
  std::vector<std::string> statuses;
  for (const Move& m : moves)
    if (m.resolution == b.target.resolution && !has(statuses, m.status)) statuses.push_back(m.status);
  b.target.status = has(statuses, wanted.status) ? wanted.status : statuses.empty() ? std::string() : statuses.front();
  int32_t actionId = -1;
  for (const Move& m : moves)
    if (m.resolution == b.target.resolution && m.status == b.target.status) actionId = m.actionId;
  b.resolutions = TextOptions(resolutions, b.target.resolution);
  b.statuses = TextOptions(statuses, b.target.status);
  auto assignees = is.db->Call("GetAllowedAssigneeForNewRs", {Variant(projectId), Variant(actionId)}).ToObject();
  b.target.assignee = Chosen(*assignees, "UserId", wanted.assignee, kAutomatic);
  b.assignees = OptionList(ui, assignees, "UserId", b.target.assignee);
  return b;
}

// An existing issue moves as the workflow allows from its stored state.
Boxes ExistingIssueBoxes(const Issue& is, const Target& wanted, automation::Object& ui) {
  const Variant project(is.projectId), user(is.user), res(is.resolution), status(is.status);
  Boxes b;
  auto resolutions = is.db->Call("GetAllowedResolutionRs", {project, user, res, status}).ToObject();
  b.target.resolution = Chosen(*resolutions, "ResolutionCode", wanted.resolution);
  b.resolutions = OptionList(ui, resolutions, "ResolutionCode", b.target.resolution);
  auto statuses =
      is.db->Call("GetAllowedStatusRs", {project, user, res, status, Variant(b.target.resolution)}).ToObject();
  b.target.status = Chosen(*statuses, "StatusCode", wanted.status);
  b.statuses = OptionList(ui, statuses, "StatusCode", b.target.status);
  auto assignees = is.db->Call("GetAllowedAssigneeFromActionRs",
                               {Variant(is.id), Variant(b.target.resolution), Variant(b.target.status)})
                       .ToObject();
  b.target.assignee = Chosen(*assignees, "UserId", wanted.assignee, kAutomatic);
  b.assignees = OptionList(ui, assignees, "UserId", b.target.assignee);
  return b;
}

std::string StateBox(std::string_view name, std::string_view onchange, const std::string& options, bool disabled) {
  return "<td class='FormFields' style='width:33%'><select id=" + std::string(name) + " name=" + std::string(name) +
         " style='width:98%' onkeydown='return EnterInComboBox();' onchange='return " + std::string(onchange) +
         "();'" + (disabled ? " disabled" : "") + ">" + options + "</select></td>";
}

std::string StateTable(const Boxes& b, bool disabled) {
  std::string out =
      "<table cellpadding='0' cellspacing='0' border='0' width='98%'>"
      "<tr><td style='height:2px'><div></div></td></tr><tr>";
  for (std::string_view label : {"Resolution", "Assign To", "Status"})
    out += "<td nowrap class='FormLabels' style='width: 33%'>" + std::string(label) + "</td>";
  out += "</tr><tr>";
  out += StateBox("ResolutionCode", "State_onchange", b.resolutions, disabled);
  out += StateBox("AssignedToUser", "IssueUpdated", b.assignees, disabled);
  out += StateBox("StatusCode", "State_onchange", b.statuses, disabled);
  return out + "</tr><tr><td style='height:3px'><div></div></td></tr></table>\r\n";
}

// A writer's sentence; its line breaks as the page's.
std::string MessageHtml(const std::string& message) {
  return message.empty() ? std::string() : lists::ErrorParagraph("Message", message);
}

std::string EntryForm(const Issue& is, int32_t projectId, const Target& target, const ObjectPtr& posted,
                      PageContext& page) {
  auto form = page.Create("Brisquel.DataEntryForm");
  std::string out = form->Call("Header", {Variant(is.user), Variant(is.db), Variant(is.id),
                                          Variant(target.resolution), Variant(target.status)})
                        .ToString();
  out += "<form name=fIssueDetail id=fIssueDetail method=post enctype='multipart/form-data' action='" +
         HtmlAttribute(page.Target()) + "'>\r\n";
  const std::string lastProject = is.IsNew() ? std::to_string(projectId) : std::string();
  out += form->Call("Body", {Variant(is.db), is.rs ? Variant(is.rs) : Variant(), Variant(is.mode),
                             Variant(posted), Variant(lastProject), Variant(is.user)})
             .ToString();
  return out;
}

void SendIssue(PageContext& page, Issue& is, const ObjectPtr& posted, const std::string& message) {
  const Target wanted = posted ? Target{page.Form("ResolutionCode"), page.Form("StatusCode"), page.Form("AssignedToUser")}
                               : Target{is.resolution, is.status, is.assignee};
  auto ui = page.Create("Brisquel.UIHelpers");
  const int32_t projectId = is.IsNew() ? NewIssueProject(is, posted ? page.Form("ProjectCode") : "") : is.projectId;
  page.SetProjectId(projectId);
  const Boxes boxes = is.IsNew() ? NewIssueBoxes(is, projectId, wanted, *ui) : ExistingIssueBoxes(is, wanted, *ui);
  const std::string title = is.IsNew() ? "New Issue" : "Issue " + std::to_string(is.id);
  const bool inquiry = is.mode == "inquiry";
  std::string html(kPageScript);
  html += "<div id=IssueTitle class=box2>" + HtmlText(title) + "</div>\r\n" + MessageHtml(message);
  html += EntryForm(is, projectId, boxes.target, posted, page);
  html += StateTable(boxes, inquiry);
  html += "<input type=hidden name=rsIssue value=\"" + HtmlAttribute(is.image) + "\">\r\n";
  html += "<input type=hidden name=PostBackReason value=\"\">\r\n" + page.TokenField() + "\r\n";
  // The issue's files, each with its remove box; files (a screen capture among them) go along
  // with every save.
  const std::string input = inquiry ? std::string() : std::string(kAttachmentInput);
  if (is.IsNew()) {
    html += input + "\r\n";
  } else {
    const std::vector<std::string> ticked = posted ? page.FormValues("chkAttachment") : std::vector<std::string>{};
    html += AttachmentList(page, *is.db, is.id, !inquiry, ticked, input);
  }
  if (!inquiry) html += "<input type=submit id=Save name=Save value='Save' onclick='return Validate();'>\r\n";
  html += "</form>\r\n";
  if (!inquiry) html += std::string(kAttachCaptureScript) + "\r\n";
  page.SendPage(title, html);
}

void IssuePage(PageContext& page) {
  if (std::optional<Issue> is = OpenIssue(page)) SendIssue(page, *is, nullptr, "");
}

// The posted files, held as provisional attachments until the writer takes them over; removed
// again unless it did (a refusal, or an error on the way).
class PostedFiles {
 public:
  PostedFiles(automation::Object& db, automation::Object& form) : db_(db), ids_(KeepPostedFiles(db, form)) {}
  ~PostedFiles() {
    if (taken_) return;
    try {
      DropProvisionalAttachments(db_, ids_);
    } catch (const std::exception&) {
      // Left as provisional rows, which no issue shows.
    }
  }
  PostedFiles(const PostedFiles&) = delete;
  PostedFiles& operator=(const PostedFiles&) = delete;
  const std::vector<int32_t>& Ids() const { return ids_; }
  Variant IdList() const {
    std::vector<Variant> list(ids_.begin(), ids_.end());
    return Variant(std::move(list));
  }
  void Taken() { taken_ = true; }

 private:
  automation::Object& db_;
  std::vector<int32_t> ids_;
  bool taken_ = false;
};

// The issue the save wrote; nothing and the writer's sentence when it refused.
std::optional<int32_t> Save(PageContext& page, const Issue& is, const ObjectPtr& posted, const ObjectPtr& stored,
                            std::string& message) {
  const Variant user(is.user);
  message = PostedFilesProblem(*posted);
  if (!message.empty()) return std::nullopt;
  PostedFiles files(*is.db, *posted);
  if (is.IsNew()) {
    NameForNewIssue(*posted, files.Ids());
    const int32_t id = is.db->Call("CreateIssue", {user, Variant(posted)}).ToLong();
    if (id > 0) {
      files.Taken();
      return id;
    }
  } else {
    // The writer checks first that the posted row is an issue's.
    const Variant saved = forms::CallImageWriter(page, *is.db, "UpdateIssue",
                                                 {user, Variant(stored), Variant(posted), files.IdList()}, message);
    if (saved.IsEmpty()) return std::nullopt;
    if (saved.ToBool()) {
      files.Taken();
      return FieldValue(*stored, "IssueId").ToLong();
    }
  }
  message = is.db->Get("LastErrorMessage").ToText();
  return std::nullopt;
}

void IssuePost(PageContext& page) {
  const ObjectPtr posted = page.FormData();
  if (!posted) {
    page.SendPage("Issue", "<p class=ErrorText>The issue form could not be read.</p>", 400);
    return;
  }
  std::optional<Issue> is = OpenIssue(page);
  if (!is) return;
  std::string message;
  if (page.Form("PostBackReason").empty()) {
    // A change goes back through the row the page was read as: without it, or with one that is not
    // this site's, nothing is written.
    ObjectPtr stored;
    if (!is->IsNew() && !(stored = forms::PostedImage(page, *is->db, "rsIssue", message))) {
      is->image = page.Form("rsIssue");
      SendIssue(page, *is, posted, message);
      return forms::Refused(page);
    }
    if (std::optional<int32_t> saved = Save(page, *is, posted, stored, message)) {
      page.Redirect(page.Url("/Issues/Issue.asp?IssueId=" + std::to_string(*saved)));
      return;
    }
  }
  // The row the user began with: a change made meanwhile stays a conflict until he reloads.
  if (!is->IsNew()) is->image = page.Form("rsIssue");
  SendIssue(page, *is, posted, message);
}

AddPage issuePage("/Issues/Issue.asp", {.get = IssuePage, .post = IssuePost});

}  // namespace

}  // namespace site

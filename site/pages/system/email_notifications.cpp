// /Setup/EMailNotifications.asp?ProjectId=n: the notification rules of a project (-1: the rules for
// every project), each with a box to tick for deleting it and a link to change it;
// /Setup/EMailNotification.asp: one rule: the event that fires it (a workflow transition among
// them), who receives the message and the template it is made from. Site administrators keep
// every rule, a project's administrators the rules of that project.
#include <optional>

#include "automation/text.h"
#include "brisquel/encode.h"
#include "site/host.h"
#include "site/pages/edit_forms.h"
#include "site/pages/records.h"
#include "site/routes.h"

namespace site {

namespace {

using automation::Variant;
using brisquel::encode::HtmlAttribute;
using brisquel::encode::UrlComponent;

constexpr std::string_view kListPath = "/Setup/EMailNotifications.asp";
constexpr std::string_view kEditPath = "/Setup/EMailNotification.asp";
constexpr int32_t kAllProjects = -1;

// The event and recipient types a rule can name (the site's fixed code lists).
const std::vector<forms::Option> kEvents{
    {"1", "Issue created"}, {"2", "Issue assigned to user"}, {"3", "Issue updated"}, {"4", "Workflow transition"}};
const std::vector<forms::Option> kRecipients{
    {"1", "Assignee"}, {"2", "Creator"}, {"3", "Previous assignee"}, {"4", "Issue field"}, {"5", "Specific address"}};

bool MayKeepRules(PageContext& page, automation::Object& db, int32_t projectId) {
  const Variant user(page.UserId());
  if (db.Call("UserIsSiteAdmin", {user}).ToBool()) return true;
  return projectId != kAllProjects && db.Call("UserIsProjectAdmin", {user, Variant(projectId)}).ToBool();
}

std::string ListTarget(int32_t projectId) {
  return std::string(kListPath) + "?ProjectId=" + std::to_string(projectId);
}

// The project the list shows: the one asked for, else every project for a site administrator and
// the first administered project for anyone else.
int32_t ListProject(PageContext& page, automation::Object& db) {
  if (auto asked = WholeNumber(page.Query("ProjectId"))) return *asked;
  if (db.Call("UserIsSiteAdmin", {Variant(page.UserId())}).ToBool()) return kAllProjects;
  auto rs = db.Call("GetUserAdminProjectsRs", {Variant(page.UserId())}).ToObject();
  return AtEnd(*rs) ? kAllProjects : FieldValue(*rs, "ProjectId").ToLong();
}

// The box that switches the list to another project the user administers.
std::string ProjectChooser(PageContext& page, automation::Object& db, int32_t projectId) {
  std::vector<forms::Option> options;
  if (db.Call("UserIsSiteAdmin", {Variant(page.UserId())}).ToBool())
    options.push_back({std::to_string(kAllProjects), "All projects"});
  auto rs = db.Call("GetUserAdminProjectsRs", {Variant(page.UserId())}).ToObject();
  for (const forms::Option& o : forms::Options(*rs, "ProjectId", "ProjectCode")) options.push_back(o);
  return "<form method=get name=fProject action=\"" + HtmlAttribute(page.Url(kListPath)) + "\">Project " +
         forms::Select("ProjectId", options, std::to_string(projectId)) +
         " <input type=submit id=cmdShow value=\"Show\"></form>\r\n";
}

void SendList(PageContext& page, automation::Object& db, int32_t projectId, const std::string& message) {
  auto rs = db.Call("GetEMailNotificationsRs", {Variant(page.UserId()), Variant(projectId)}).ToObject();
  std::vector<forms::ListRow> rows;
  for (; !AtEnd(*rs); rs->Call("MoveNext")) {
    const std::string id = FieldText(*rs, "NotificationRuleId");
    rows.push_back({id, page.Url(std::string(kEditPath) + "?NotificationRuleId=" + id),
                    FieldText(*rs, "NotificationRuleName"),
                    {FieldText(*rs, "NotificationEvent"), FieldText(*rs, "NotificationRecipient"),
                     FieldText(*rs, "TemplateName"), FieldValue(*rs, "Active").ToBool() ? "Yes" : "No"}});
  }
  const std::string table = forms::ListTable("Rules", "chkEMailRule", {"Rule", "Event", "Recipient", "Template", "Active"},
                                             rows);
  page.SendPage("E-Mail Notifications",
                ProjectChooser(page, db, projectId) +
                    forms::ListPage(page, "E-Mail Notifications", ListTarget(projectId), message, table,
                                    std::string(kEditPath) + "?ProjectId=" + std::to_string(projectId),
                                    "New rule..."));
}

void ListGet(PageContext& page) {
  auto db = page.Database();
  const int32_t projectId = ListProject(page, *db);
  if (!MayKeepRules(page, *db, projectId)) return forms::SendForbidden(page);
  if (projectId != kAllProjects) page.SetProjectId(projectId);
  SendList(page, *db, projectId, "");
}

// The ticked rules go, all or none.
void ListPost(PageContext& page) {
  auto db = page.Database();
  const int32_t projectId = ListProject(page, *db);
  if (!MayKeepRules(page, *db, projectId)) return forms::SendForbidden(page);
  auto form = forms::PostedForm(page);
  if (!form) return;
  std::string message;
  if (!forms::CallWriter(page, *db, "DeleteNotificationRule", {Variant(page.UserId()), Variant(form)},
                         ListTarget(projectId), message))
    SendList(page, *db, projectId, message);
}

// ---- one rule

struct RuleForm {
  std::optional<int32_t> ruleId;  // none for a new rule
  int32_t projectId = kAllProjects;
  std::string name, templateName, event = "1", action, recipient = "1", field, address;
  bool active = true;
  std::string image;  // the stored row as read, for UpdateNotificationRule
};

std::string EditTarget(const RuleForm& f) {
  return std::string(kEditPath) + (f.ruleId ? "?NotificationRuleId=" + std::to_string(*f.ruleId)
                                            : "?ProjectId=" + std::to_string(f.projectId));
}

void SendRule(PageContext& page, automation::Object& db, const RuleForm& f, const std::string& message) {
  const Variant user(page.UserId());
  auto templates = db.Call("GetEMailTemplatesRs", {user}).ToObject();
  auto transitions = db.Call("GetEMailWorkflowTransitionsRs", {user, Variant(f.projectId)}).ToObject();
  auto fields = db.Call("GetIssueTextFieldsRs", {user}).ToObject();
  const std::string rows =
      forms::Row("Name", forms::TextBox("NotificationRuleName", f.name, 40, 50)) +
      forms::Row("Active", forms::CheckBox("Active", "on", f.active)) +
      forms::Row("Event", forms::Select("NotificationEventType", kEvents, f.event)) +
      forms::Row("Workflow action (for a workflow transition)",
                 forms::Select("ActionId", forms::Options(*transitions, "ActionId", "TransitionName"), f.action)) +
      forms::Row("Recipient", forms::Select("RecipientType", kRecipients, f.recipient)) +
      forms::Row("Issue field (for the recipient Issue field)",
                 forms::Select("RecipientAddress1", forms::Options(*fields, "FieldName", "FieldFriendlyName"), f.field)) +
      forms::Row("E-Mail address (for a specific address)", forms::TextBox("RecipientAddress2", f.address, 40, 50)) +
      forms::Row("Template", forms::Select("TemplateName", forms::Options(*templates, "TemplateName", "TemplateName"),
                                           f.templateName));
  std::string hidden = f.ruleId ? forms::Hidden("rsRule", f.image)
                                : forms::Hidden("ProjectId", std::to_string(f.projectId));
  std::string body = forms::EditPage(page, "E-Mail Notification", EditTarget(f), message, rows, hidden);
  body += "<p><a id=Cancel href=\"" + HtmlAttribute(page.Url(ListTarget(f.projectId))) +
          "\">Back to the rules</a></p>\r\n";
  if (f.projectId != kAllProjects) page.SetProjectId(f.projectId);
  page.SendPage("E-Mail Notification", body);
}

void NoSuchRule(PageContext& page, const std::string& id) {
  page.SendPage("E-Mail Notification", forms::Message("The notification rule " + id + " does not exist."), 404);
}

void EditGet(PageContext& page) {
  auto db = page.Database();
  RuleForm f;
  const std::string asked = page.Query("NotificationRuleId");
  if (!asked.empty()) {
    f.ruleId = WholeNumber(asked);
    auto rs = f.ruleId ? db->Call("GetEMailNotificationRuleRs", {Variant(page.UserId()), Variant(asked)}).ToObject()
                       : nullptr;
    if (!rs || AtEnd(*rs)) return NoSuchRule(page, asked);
    const Variant project = FieldValue(*rs, "ProjectId");
    f.projectId = project.IsNull() ? kAllProjects : project.ToLong();
    f.name = FieldText(*rs, "NotificationRuleName");
    f.active = FieldValue(*rs, "Active").ToBool();
    f.templateName = FieldText(*rs, "TemplateName");
    f.event = FieldText(*rs, "NotificationEventType");
    f.action = FieldText(*rs, "ActionId");
    f.recipient = FieldText(*rs, "RecipientType");
    const std::string address = FieldText(*rs, "RecipientAddress");
    if (f.recipient == "4") f.field = address;
    if (f.recipient == "5") f.address = address;
    f.image = db->Call("rsToXml", {Variant(rs)}).ToString();
  } else {
    f.projectId = QueryNumber(page, "ProjectId", kAllProjects);
  }
  if (!MayKeepRules(page, *db, f.projectId)) return forms::SendForbidden(page);
  SendRule(page, *db, f, "");
}

// A stored rule is written back through the row it was read as (its project stays); a new one is
// inserted for the posted project. A refusal shows the form again as it was posted.
void EditPost(PageContext& page) {
  auto db = page.Database();
  auto form = forms::PostedForm(page);
  if (!form) return;
  RuleForm f;
  f.image = page.Form("rsRule");
  f.name = page.Form("NotificationRuleName");
  f.active = automation::EqualsNoCase(page.Form("Active"), "on");
  f.templateName = page.Form("TemplateName");
  f.event = page.Form("NotificationEventType");
  f.action = page.Form("ActionId");
  f.recipient = page.Form("RecipientType");
  f.field = page.Form("RecipientAddress1");
  f.address = page.Form("RecipientAddress2");
  std::shared_ptr<automation::Object> rs;
  // The edit form (its path names the rule) carries the stored row; only a new rule's has none.
  if (!f.image.empty() || !page.Query("NotificationRuleId").empty()) {
    std::string refusal;
    rs = forms::PostedImage(page, *db, "rsRule", refusal);
    if (!rs) {
      // Shown again to those who may keep the rules of the posted project.
      f.ruleId = WholeNumber(page.Query("NotificationRuleId"));
      f.projectId = WholeNumber(page.Form("ProjectId")).value_or(kAllProjects);
      if (!MayKeepRules(page, *db, f.projectId)) return forms::SendForbidden(page);
      SendRule(page, *db, f, refusal);
      return forms::Refused(page);
    }
    if (HasField(*rs, "ProjectId") && HasField(*rs, "NotificationRuleId")) {
      const Variant project = AtEnd(*rs) ? Variant::Null() : FieldValue(*rs, "ProjectId");
      f.projectId = project.IsNull() ? kAllProjects : project.ToLong();
      f.ruleId = AtEnd(*rs) ? 0 : FieldValue(*rs, "NotificationRuleId").ToLong();
    } else {
      // Another form's row: its writer refuses it, under the form as posted.
      f.ruleId = WholeNumber(page.Query("NotificationRuleId"));
      f.projectId = WholeNumber(page.Form("ProjectId")).value_or(kAllProjects);
    }
  } else {
    f.projectId = WholeNumber(page.Form("ProjectId")).value_or(kAllProjects);
  }
  if (!MayKeepRules(page, *db, f.projectId)) return forms::SendForbidden(page);
  std::string message;
  const bool saved =
      rs ? forms::CallWriter(page, *db, "UpdateNotificationRule", {Variant(page.UserId()), Variant(rs), Variant(form)},
                             ListTarget(f.projectId), message)
         : forms::CallWriter(page, *db, "CreateNotificationRule", {Variant(page.UserId()), Variant(form)},
                             ListTarget(f.projectId), message);
  if (!saved) SendRule(page, *db, f, message);
}

AddPage list(std::string(kListPath), {.get = ListGet, .post = ListPost});
AddPage edit(std::string(kEditPath), {.get = EditGet, .post = EditPost});

}  // namespace

}  // namespace site

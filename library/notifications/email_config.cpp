// The site record, the e-mail configuration row and its writer, and the readers of notification
// rules, templates, message formats and the send log.
#include "notifications/email_config.h"

#include "ado/ado.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "notifications/email_forms.h"
#include "notifications/message_format.h"
#include "notifications/notifications.h"

namespace brisquel {

using automation::Variant;
using namespace mailforms;

namespace {

constexpr std::string_view kClass = "Database";

ReadOptions WithoutCriteria() { return kDefaultCriteriaRows; }

ado::Param Name50(const std::string& s) { return ado::Param::Text(s, 50); }

// The configuration row as pages see it. The password column is there (the settings form shows
// it) but always empty: the stored password is write-only.
constexpr std::string_view kConfigSql =
    "select EMailConfigurationId, EMailEnabled, SmtpHost, SmtpPort, SendTimeout, FromEMailAddress, "
    "ServerLoginRequired, SmtpUserId, '' as SmtpPassword, MaximumDeliveryAttempts, DeliveryFrequency, "
    "LastUpdated, WebSiteURL from EMailConfiguration";

// Event 4 rules describe their workflow action; every other rule (action 0) keeps its event
// type's name, so the action tables are outer-joined (a rule whose action is gone still shows). The action is found by its id alone: the
// rule writer records workflow 1 whatever workflow the action belongs to.
constexpr std::string_view kRuleListSql =
    "select EMailNotificationRules.NotificationRuleId, EMailNotificationRules.ProjectId, "
    "EMailNotificationRules.NotificationRuleName, EMailNotificationRules.Active, "
    "EMailNotificationRules.TemplateName, "
    "case when EMailNotificationRules.NotificationEventType = 4 then 'Workflow action: ' || "
    "  case when WorkflowActions.ActionId is null then '' "
    "  when WorkflowActions.ActionName = '' "
    "    then coalesce(FromState.StateName, '') || ' to ' || coalesce(ToState.StateName, '') "
    "    else WorkflowActions.ActionName || ' (' || coalesce(FromState.StateName, '') || ' to ' || "
    "         coalesce(ToState.StateName, '') || ')' end "
    "  else EMailNotificationEventTypes.NotificationEventTypeName end as NotificationEvent, "
    "case EMailNotificationRules.RecipientType "
    "  when 4 then 'Issue field ' || EMailNotificationRules.RecipientAddress "
    "  when 5 then EMailNotificationRules.RecipientAddress "
    "  else EMailRecipientTypes.RecipientTypeName end as NotificationRecipient "
    "from EMailNotificationRules "
    "inner join EMailNotificationEventTypes "
    "  on EMailNotificationEventTypes.NotificationEventType = EMailNotificationRules.NotificationEventType "
    "inner join EMailRecipientTypes on EMailRecipientTypes.RecipientType = EMailNotificationRules.RecipientType "
    "left outer join WorkflowActions on WorkflowActions.ActionId = EMailNotificationRules.ActionId "
    "left outer join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "left outer join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId "
    "where EMailNotificationRules.ProjectId = ? "
    "order by EMailNotificationRules.NotificationRuleName";

constexpr std::string_view kTransitionsSql =
    "select WorkflowActions.WorkflowId, WorkflowActions.ActionId, "
    "case when WorkflowActions.ActionName = '' "
    "  then 'From ''' || FromState.StateName || ''' to ''' || ToState.StateName || '''' "
    "  else WorkflowActions.ActionName || ' (from ''' || FromState.StateName || ''' to ''' || "
    "       ToState.StateName || ''')' end as TransitionName "
    "from WorkflowActions "
    "inner join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "inner join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId "
    "where WorkflowActions.FromStateId <> WorkflowActions.ToStateId and FromState.StateType <> 1 "
    "  and WorkflowActions.WorkflowId = case when ? = -1 "
    "    then (select Workflows.WorkflowId from Workflows where Workflows.SiteDefault = 1 limit 1) "
    "    else (select Projects.WorkflowId from Projects where Projects.ProjectId = ?) end "
    "order by TransitionName";

}  // namespace

// ---- The site record

bool SetWebsiteURL(Database& db, const std::string& url, const std::string& submittedByUserId) {
  return Procedure(kClass, "SetWebsiteURL", [&] {
    db.SetLastErrorMessage("");
    if (!UserIsSiteAdmin(db, submittedByUserId)) return db.Fail(kPermissionDenied);
    if (CharLength(url) > 100) return db.Fail("Website URL cannot be longer than 100 characters.");
    if (std::string why = LineBreakRefusal(url, "Website URL"); !why.empty()) return db.Fail(why);
    db.Execute("update VantrelSite set WebSiteURL = ?", {ado::Param::Text(url, 100)});
    return true;
  });
}

RecordsetPtr GetVantrelSiteRs(Database& db) {
  return Procedure(kClass, "GetVantrelSiteRs", [&] { return db.Read("select * from VantrelSite", {}, WithoutCriteria()); });
}

// ---- The configuration row

RecordsetPtr GetEMailConfigRs(Database& db) {
  return Procedure(kClass, "GetEMailConfigRs", [&] { return db.Read(kConfigSql); });
}

std::optional<MailConfig> FindMailConfig(Database& db) {
  std::optional<MailConfig> c;
  db.Each(kConfigSql, {}, [&](const sql::Row& r) {
    if (c) return;
    c = MailConfig{r.Flag("EMailEnabled"),    r.Text("SmtpHost"),   r.Long("SmtpPort"),
                   r.Long("SendTimeout"),     r.Text("FromEMailAddress"), r.Flag("ServerLoginRequired"),
                   r.Text("SmtpUserId"),      r.Long("MaximumDeliveryAttempts"), r.Text("WebSiteURL")};
  });
  return c;
}

MailConfig ReadMailConfig(Database& db) {
  std::optional<MailConfig> c = FindMailConfig(db);
  if (!c) ado::Raise(ado::err::kNoCurrentRecord, "ADODB.Recordset");
  return *c;
}

std::string GetSmtpPassword(Database& db) {
  return Procedure(kClass, "GetSmtpPassword", [&] {
    Variant v = db.Scalar("select SmtpPassword from EMailConfiguration order by EMailConfigurationId limit 1");
    return v.ToText();
  });
}

namespace {

// The posted e-mail settings, checked.
struct MailSettings {
  bool enabled = false;
  std::string host, userId, password, url, from;
  int16_t port = 0, timeout = 0, attempts = 0, frequency = 0;
};

// A number of the form from `min` to 32767.
int16_t PostedNumber(const FormFields& f, std::string_view name, int16_t min, std::string_view refusal) {
  int16_t n = 0;
  if (!CnvToInt(PostedText(f, name), n) || n < min) Refuse(std::string(refusal));
  return n;
}

// A text of the form of at most `limit` characters.
std::string LimitedText(const FormFields& f, std::string_view name, size_t limit, std::string_view refusal) {
  std::string v = PostedText(f, name);
  if (CharLength(v) > limit) Refuse(std::string(refusal));
  return v;
}

// Reads and checks the form; the first failing check decides.
MailSettings ReadMailSettings(const FormFields& f) {
  MailSettings m;
  m.enabled = EqualsNoCase(PostedText(f, "EMailEnabled"), "1");
  if (!m.enabled) return m;
  if (PostedText(f, "SmtpHost").empty()) Refuse("SMTP E-Mail server name cannot be blank.");
  m.host = LimitedText(f, "SmtpHost", 50, "SMTP E-Mail server name cannot be longer than 50 characters.");
  m.port = PostedNumber(f, "SmtpPort", 0, "Port must be a number from 0 to 32767.");
  m.userId = LimitedText(f, "SmtpUserId", 50, "User id cannot be longer than 50 characters.");
  m.password = LimitedText(f, "SmtpPassword", 50, "Password cannot be longer than 50 characters.");
  if (PostedText(f, "WebsiteURL").empty()) Refuse("Website URL cannot be blank.");
  m.url = LimitedText(f, "WebsiteURL", 100, "Website URL cannot be longer than 100 characters.");
  m.timeout = PostedNumber(f, "SendTimeout", 0, "Delivery timeout must be a number from 0 to 32767.");
  m.attempts = PostedNumber(f, "MaximumDeliveryAttempts", 0, "Delivery attempts must be a number from 0 to 32767.");
  m.frequency = PostedNumber(f, "DeliveryFrequency", -32768, "Delivery frequency must be a number from 1 to 32767.");
  const int16_t fr = m.frequency;
  if (fr != 1 && fr != 5 && fr != 10 && fr != 15 && fr != 30 && fr != 60)
    Refuse("Delivery frequency must be 1, 5, 10, 15, 30 or 60.");
  m.from = LimitedText(f, "FromEMailAddress", 50, "From address cannot be longer than 50 characters.");
  RefuseLineBreak(m.host, "SMTP E-Mail server name");
  RefuseLineBreak(m.userId, "User id");
  RefuseLineBreak(m.url, "Website URL");
  RefuseLineBreak(m.from, "From address");
  return m;
}

// The settings into the held row, sent back, and the password beside it (its column in the
// recordset is always empty). A blank password keeps the stored one, unless the user id is blank
// too: then there is no login.
void WriteMailSettings(Database& db, ado::Recordset& rs, const MailSettings& m) {
  rs.SetValue("EMailEnabled", Variant(m.enabled));
  if (m.enabled) {
    rs.SetValue("SmtpHost", Variant(m.host));
    rs.SetValue("SmtpPort", Variant::Integer(m.port));
    rs.SetValue("SmtpUserId", Variant(m.userId));
    rs.SetValue("FromEMailAddress", Variant(m.from));
    rs.SetValue("DeliveryFrequency", Variant::Integer(m.frequency));
    rs.SetValue("MaximumDeliveryAttempts", Variant::Integer(m.attempts));
    rs.SetValue("SendTimeout", Variant::Integer(m.timeout));
    rs.SetValue("WebSiteURL", Variant(m.url));
    rs.SetValue("ServerLoginRequired", Variant(int32_t{!m.userId.empty() || !m.password.empty() ? 1 : 0}));
  }
  const Variant id = rs.Value("EMailConfigurationId");
  WriteStep(db, [&] {
    db.WriteBack(rs);
    if (m.enabled && (!m.password.empty() || m.userId.empty()))
      db.Exec("update EMailConfiguration set SmtpPassword = ? where EMailConfigurationId = ?",
              {ado::Param::Text(m.password, 50), ado::Param::Long(id)});
  }, kConflict);
}

}  // namespace

bool UpdateEMailConfig(Database& db, const std::string& submittedByUserId, const std::string& virtualDirectoryPath,
                       RecordsetPtr rsEMailConfig, std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateEMailConfig";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldFirstRow(rsEMailConfig, "EMailConfiguration", kMethod);
    if (!UserIsSiteAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const MailSettings m = ReadMailSettings(PostedFields(formData, kMethod));
    Notifications n;
    if (m.enabled) {
      // Switching e-mail on registers this database with the service; refuse before saving
      // anything when that cannot be done.
      if (virtualDirectoryPath.empty())
        ThrowError(kClass, kMethod, "VirtualDirectoryPath is needed to register the site for e-mail delivery.");
      if (GetDbName(n, db).empty())
        Refuse(
            "The database name cannot be read from the connection, so the notification service cannot serve "
            "this site. The settings were not saved.");
    }
    Database::Transaction tx(db);
    WriteMailSettings(db, rs, m);
    // The service's schedule is written just before the commit, from the settings about to be
    // committed: a registry write that fails leaves the settings as they were, and a commit that
    // fails puts the registry back, so it never shows a save that did not happen.
    const ScheduleState before = CurrentSchedule(n, db);
    try {
      if (!UpdateEMailJob(n, db, virtualDirectoryPath)) Refuse(n.GetLastErrorMessage());
      tx.Commit();
    } catch (...) {
      RestoreSchedule(before);
      throw;
    }
    return true;
  });
}

RecordsetPtr GetEMailDeliveryFrequencyRs(Database& db) {
  return Procedure(kClass, "GetEMailDeliveryFrequencyRs",
                   [&] { return db.Read("select * from EMailDeliveryFrequency order by Frequency"); });
}

RecordsetPtr GetEMailNotificationsLogRs(Database& db) {
  return Procedure(kClass, "GetEMailNotificationsLogRs", [&] {
    return db.Read("select * from EMailNotifications order by EMailNotificationId desc");
  });
}

// ---- Rules, templates and message formats

RecordsetPtr GetEMailNotificationsRs(Database& db, const std::string& /*userId*/, int32_t projectId) {
  return Procedure(kClass, "GetEMailNotificationsRs", [&] {
    ReadOptions o = WithoutCriteria();
    o.detach = false;
    return db.Read(kRuleListSql, {ado::Param::Long(projectId)}, o);
  });
}

RecordsetPtr GetEMailNotificationRuleRs(Database& db, const std::string& /*userId*/,
                                        const std::string& notificationRuleId) {
  return Procedure(kClass, "GetEMailNotificationRuleRs", [&] {
    return db.Read("select * from EMailNotificationRules where NotificationRuleId = ?",
                   {ado::Param::Long(Variant(notificationRuleId))}, WithoutCriteria());
  });
}

RecordsetPtr GetEMailWorkflowTransitionsRs(Database& db, const std::string& /*userId*/, int32_t projectId) {
  return Procedure(kClass, "GetEMailWorkflowTransitionsRs", [&] {
    return db.Read(kTransitionsSql, {ado::Param::Long(projectId), ado::Param::Long(projectId)}, WithoutCriteria());
  });
}

RecordsetPtr GetIssueTextFieldsRs(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetIssueTextFieldsRs", [&] {
    return db.Read(
        "select FieldFriendlyName, FieldName from IssueFields where FilterFieldType = 4 or FilterFieldType = 6 or "
        "FilterFieldType = 0 order by FieldFriendlyName ",
        {}, WithoutCriteria());
  });
}

RecordsetPtr GetEMailTemplatesRs(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetEMailTemplatesRs",
                   [&] { return db.Read("select * from EMailTemplates order by EMailTemplates.TemplateName"); });
}

namespace {

// The message-format statements, read by the readers below and, typed, by the sender.
constexpr const char* kTemplateSql = "select * from EMailTemplates where EMailTemplates.TemplateName = ?";
constexpr const char* kTemplateTypeSql =
    "select * from EMailTemplateTypes where EMailTemplateTypes.TemplateTypeName = ?";
constexpr const char* kTypePartsSql =
    "select * from EMailTemplateTypeParts where EMailTemplateTypeParts.TemplateTypeName = ? order by "
    "EMailTemplateTypeParts.PartOrder";
constexpr const char* kTypeHeadersSql =
    "select * from EMailTemplateTypeHeaders where EMailTemplateTypeHeaders.TemplateTypeName = ?";
constexpr const char* kPartHeadersSql =
    "select * from EMailTemplateTypePartHeaders where EMailTemplateTypePartHeaders.TemplateTypeName = ? and "
    "EMailTemplateTypePartHeaders.PartName = ?";
constexpr const char* kTemplatePartSql =
    "select * from EMailTemplateParts where EMailTemplateParts.TemplateName = ? and "
    "EMailTemplateParts.TemplateTypeName = ? and EMailTemplateParts.PartName = ?";

}  // namespace

RecordsetPtr GetEMailTemplateRs(Database& db, const std::string& templateName) {
  return Procedure(kClass, "GetEMailTemplateRs", [&] { return db.Read(kTemplateSql, {Name50(templateName)}); });
}

RecordsetPtr GetEMailTemplateTypesRs(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetEMailTemplateTypesRs", [&] {
    return db.Read("select * from EMailTemplateTypes order by EMailTemplateTypes.TemplateTypeName ");
  });
}

RecordsetPtr GetEMailTemplateTypeRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetEMailTemplateTypeRs",
                   [&] { return db.Read(kTemplateTypeSql, {Name50(templateTypeName)}); });
}

RecordsetPtr GetEMailTemplateTypePartsRs(Database& db, const std::string& /*userId*/,
                                         const std::string& templateTypeName) {
  return Procedure(kClass, "GetEMailTemplateTypePartsRs",
                   [&] { return db.Read(kTypePartsSql, {Name50(templateTypeName)}); });
}

RecordsetPtr GetTemplateTypePartsRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetTemplateTypePartsRs",
                   [&] { return db.Read(kTypePartsSql, {Name50(templateTypeName)}); });
}

RecordsetPtr GetTemplateTypeHeadersRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetTemplateTypeHeadersRs",
                   [&] { return db.Read(kTypeHeadersSql, {Name50(templateTypeName)}); });
}

RecordsetPtr GetEMailTemplateTypePartHeadersRs(Database& db, const std::string& templateTypeName,
                                               const std::string& partName) {
  return Procedure(kClass, "GetEMailTemplateTypePartHeadersRs",
                   [&] { return db.Read(kPartHeadersSql, {Name50(templateTypeName), Name50(partName)}); });
}

RecordsetPtr GetEMailTemplatePartRs(Database& db, const std::string& templateName, const std::string& templateTypeName,
                                    const std::string& partName) {
  return Procedure(kClass, "GetEMailTemplatePartRs", [&] {
    return db.Read(kTemplatePartSql, {Name50(templateName), Name50(templateTypeName), Name50(partName)});
  });
}

MessageFormat ReadMessageFormat(Database& db, const std::string& templateName) {
  MessageFormat f;
  bool found = false;
  db.Each(kTemplateSql, {Name50(templateName)}, [&](const sql::Row& r) {
    if (!found) f.tmpl = TemplateOf(r);
    found = true;
  });
  if (!found) automation::RaiseRuntime(ado::err::kNoCurrentRecord, "There is no template '" + templateName + "'.");
  const std::string typeName = f.tmpl.typeName;
  found = false;
  db.Each(kTemplateTypeSql, {Name50(typeName)}, [&](const sql::Row& r) {
    if (!found) f.type = TypeOf(r);
    found = true;
  });
  if (!found) automation::RaiseRuntime(ado::err::kNoCurrentRecord, "There is no template type '" + typeName + "'.");
  db.Each(kTypeHeadersSql, {Name50(typeName)}, [&](const sql::Row& r) { f.headers.push_back(HeaderOf(r)); });
  db.Each(kTypePartsSql, {Name50(typeName)}, [&](const sql::Row& r) { f.parts.push_back(PartOf(r)); });
  return f;
}

std::vector<MessageHeader> ReadPartHeaders(Database& db, const std::string& typeName, const std::string& partName) {
  std::vector<MessageHeader> out;
  db.Each(kPartHeadersSql, {Name50(typeName), Name50(partName)},
          [&](const sql::Row& r) { out.push_back(HeaderOf(r)); });
  return out;
}

std::optional<std::string> ReadTemplatePart(Database& db, const std::string& templateName,
                                            const std::string& typeName, const std::string& partName) {
  std::optional<std::string> out;
  db.Each(kTemplatePartSql, {Name50(templateName), Name50(typeName), Name50(partName)}, [&](const sql::Row& r) {
    if (!out) out = r.Text("PartContent");
  });
  return out;
}

namespace {

automation::Register<Database> reg([](auto& c) {
  // Callers that do not say who they are get "Permission denied.".
  c.Method("SetWebsiteURL", &SetWebsiteURL, {Variant("")});
  c.Method("GetVantrelSiteRs", &GetVantrelSiteRs);
  c.Method("GetEMailConfigRs", &GetEMailConfigRs);
  c.Method("UpdateEMailConfig", &UpdateEMailConfig);
  c.Method("GetEMailDeliveryFrequencyRs", &GetEMailDeliveryFrequencyRs);
  c.Method("GetEMailNotificationsLogRs", &GetEMailNotificationsLogRs);
  c.Method("GetEMailNotificationsRs", &GetEMailNotificationsRs);
  c.Method("GetEMailNotificationRuleRs", &GetEMailNotificationRuleRs);
  c.Method("GetEMailWorkflowTransitionsRs", &GetEMailWorkflowTransitionsRs);
  c.Method("GetIssueTextFieldsRs", &GetIssueTextFieldsRs);
  c.Method("GetEMailTemplatesRs", &GetEMailTemplatesRs);
  c.Method("GetEMailTemplateRs", &GetEMailTemplateRs);
  c.Method("GetEMailTemplateTypesRs", &GetEMailTemplateTypesRs);
  c.Method("GetEMailTemplateTypeRs", &GetEMailTemplateTypeRs);
  c.Method("GetEMailTemplateTypePartsRs", &GetEMailTemplateTypePartsRs);
  c.Method("GetTemplateTypePartsRs", &GetTemplateTypePartsRs);
  c.Method("GetTemplateTypeHeadersRs", &GetTemplateTypeHeadersRs);
  c.Method("GetEMailTemplateTypePartHeadersRs", &GetEMailTemplateTypePartHeadersRs);
  c.Method("GetEMailTemplatePartRs", &GetEMailTemplatePartRs);
});

}  // namespace

}  // namespace brisquel

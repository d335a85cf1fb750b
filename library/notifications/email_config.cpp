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
#include "notifications/email_forms.h"
#include "notifications/notifications.h"

namespace brisquel {

using automation::Variant;
using namespace mailforms;

namespace {

constexpr std::string_view kClass = "Database";

ReadOptions WithoutCriteria() {
  ReadOptions o;
  o.updateCriteria = -1;
  return o;
}

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

std::string GetSmtpPassword(Database& db) {
  return Procedure(kClass, "GetSmtpPassword", [&] {
    Variant v = db.Scalar("select SmtpPassword from EMailConfiguration order by EMailConfigurationId limit 1");
    return v.ToText();
  });
}

bool UpdateEMailConfig(Database& db, const std::string& submittedByUserId, const std::string& virtualDirectoryPath,
                       RecordsetPtr rsEMailConfig, std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateEMailConfig";
  return Procedure(kClass, kMethod, [&] {
    db.SetLastErrorMessage("");
    ado::Recordset& rs = Rows(rsEMailConfig, "EMailConfiguration", kMethod);
    if (!(rs.IsBOF() && rs.IsEOF())) rs.MoveFirst();
    if (!UserIsSiteAdmin(db, submittedByUserId)) return db.Fail(kPermissionDenied);
    const FormFields& f = Fields(formData, kMethod);

    const bool enabled = EqualsNoCase(Field(f, "EMailEnabled"), "1");
    std::string host, userId, password, url, from;
    int16_t port = 0, timeout = 0, attempts = 0, frequency = 0;
    if (enabled) {
      host = Field(f, "SmtpHost");
      if (host.empty()) return db.Fail("SMTP E-Mail server name cannot be blank.");
      if (CharLength(host) > 50) return db.Fail("SMTP E-Mail server name cannot be longer than 50 characters.");
      if (!CnvToInt(Field(f, "SmtpPort"), port) || port < 0) return db.Fail("Port must be a number from 0 to 32767.");
      userId = Field(f, "SmtpUserId");
      if (CharLength(userId) > 50) return db.Fail("User id cannot be longer than 50 characters.");
      password = Field(f, "SmtpPassword");
      if (CharLength(password) > 50) return db.Fail("Password cannot be longer than 50 characters.");
      url = Field(f, "WebsiteURL");
      if (url.empty()) return db.Fail("Website URL cannot be blank.");
      if (CharLength(url) > 100) return db.Fail("Website URL cannot be longer than 100 characters.");
      if (!CnvToInt(Field(f, "SendTimeout"), timeout) || timeout < 0)
        return db.Fail("Delivery timeout must be a number from 0 to 32767.");
      if (!CnvToInt(Field(f, "MaximumDeliveryAttempts"), attempts) || attempts < 0)
        return db.Fail("Delivery attempts must be a number from 0 to 32767.");
      if (!CnvToInt(Field(f, "DeliveryFrequency"), frequency))
        return db.Fail("Delivery frequency must be a number from 1 to 32767.");
      if (frequency != 1 && frequency != 5 && frequency != 10 && frequency != 15 && frequency != 30 && frequency != 60)
        return db.Fail("Delivery frequency must be 1, 5, 10, 15, 30 or 60.");
      from = Field(f, "FromEMailAddress");
      if (CharLength(from) > 50) return db.Fail("From address cannot be longer than 50 characters.");

      // Switching e-mail on registers this database with the service; refuse before saving
      // anything when that cannot be done.
      if (virtualDirectoryPath.empty())
        ThrowError(kClass, kMethod, "VirtualDirectoryPath is needed to register the site for e-mail delivery.");
      auto n = std::make_shared<Notifications>();
      if (GetDbName(*n, db).empty())
        return db.Fail(
            "The database name cannot be read from the connection, so the notification service cannot serve "
            "this site. The settings were not saved.");
    }

    {
      Database::Transaction tx(db);
      rs.SetValue("EMailEnabled", Variant(enabled));
      if (enabled) {
        rs.SetValue("SmtpHost", Variant(host));
        rs.SetValue("SmtpPort", Variant::Integer(port));
        rs.SetValue("SmtpUserId", Variant(userId));
        rs.SetValue("FromEMailAddress", Variant(from));
        rs.SetValue("DeliveryFrequency", Variant::Integer(frequency));
        rs.SetValue("MaximumDeliveryAttempts", Variant::Integer(attempts));
        rs.SetValue("SendTimeout", Variant::Integer(timeout));
        rs.SetValue("WebSiteURL", Variant(url));
        rs.SetValue("ServerLoginRequired", Variant(int32_t{!userId.empty() || !password.empty() ? 1 : 0}));
      }
      const Variant id = rs.Value("EMailConfigurationId");
      auto failed = db.Trap([&] {
        db.WriteBack(rs);
        // The password travels outside the recordset (its column there is always empty). A blank
        // one keeps the stored password, unless the user id is blank too: then there is no login.
        if (enabled && (!password.empty() || userId.empty()))
          db.Execute("update EMailConfiguration set SmtpPassword = ? where EMailConfigurationId = ?",
                     {ado::Param::Text(password, 50), ado::Param::Long(id)});
      });
      if (failed) {
        std::string sentence = WriteFailure(db, *failed);
        tx.Rollback();
        return db.Fail(sentence);
      }
      tx.Commit();
    }

    // The service's schedule follows the committed settings only: a save that rolled back never
    // reaches the registry.
    auto n = std::make_shared<Notifications>();
    if (!UpdateEMailJob(*n, db, virtualDirectoryPath)) return db.Fail(n->GetLastErrorMessage());
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

RecordsetPtr GetEMailTemplateRs(Database& db, const std::string& templateName) {
  return Procedure(kClass, "GetEMailTemplateRs", [&] {
    return db.Read("select * from EMailTemplates where EMailTemplates.TemplateName = ?", {Name50(templateName)});
  });
}

RecordsetPtr GetEMailTemplateTypesRs(Database& db, const std::string& /*userId*/) {
  return Procedure(kClass, "GetEMailTemplateTypesRs", [&] {
    return db.Read("select * from EMailTemplateTypes order by EMailTemplateTypes.TemplateTypeName ");
  });
}

RecordsetPtr GetEMailTemplateTypeRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetEMailTemplateTypeRs", [&] {
    return db.Read("select * from EMailTemplateTypes where EMailTemplateTypes.TemplateTypeName = ?",
                   {Name50(templateTypeName)});
  });
}

RecordsetPtr GetEMailTemplateTypePartsRs(Database& db, const std::string& /*userId*/,
                                         const std::string& templateTypeName) {
  return Procedure(kClass, "GetEMailTemplateTypePartsRs", [&] {
    return db.Read(
        "select * from EMailTemplateTypeParts where EMailTemplateTypeParts.TemplateTypeName = ? order by "
        "EMailTemplateTypeParts.PartOrder ",
        {Name50(templateTypeName)});
  });
}

RecordsetPtr GetTemplateTypePartsRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetTemplateTypePartsRs", [&] {
    return db.Read(
        "select * from EMailTemplateTypeParts where EMailTemplateTypeParts.TemplateTypeName = ? order by "
        "EMailTemplateTypeParts.PartOrder",
        {Name50(templateTypeName)});
  });
}

RecordsetPtr GetTemplateTypeHeadersRs(Database& db, const std::string& templateTypeName) {
  return Procedure(kClass, "GetTemplateTypeHeadersRs", [&] {
    return db.Read("select * from EMailTemplateTypeHeaders where EMailTemplateTypeHeaders.TemplateTypeName = ?",
                   {Name50(templateTypeName)});
  });
}

RecordsetPtr GetEMailTemplateTypePartHeadersRs(Database& db, const std::string& templateTypeName,
                                               const std::string& partName) {
  return Procedure(kClass, "GetEMailTemplateTypePartHeadersRs", [&] {
    return db.Read(
        "select * from EMailTemplateTypePartHeaders where EMailTemplateTypePartHeaders.TemplateTypeName = ? and "
        "EMailTemplateTypePartHeaders.PartName = ?",
        {Name50(templateTypeName), Name50(partName)});
  });
}

RecordsetPtr GetEMailTemplatePartRs(Database& db, const std::string& templateName, const std::string& templateTypeName,
                                    const std::string& partName) {
  return Procedure(kClass, "GetEMailTemplatePartRs", [&] {
    return db.Read(
        "select * from EMailTemplateParts where EMailTemplateParts.TemplateName = ? and "
        "EMailTemplateParts.TemplateTypeName = ? and EMailTemplateParts.PartName = ?",
        {Name50(templateName), Name50(templateTypeName), Name50(partName)});
  });
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

// The site record and the e-mail configuration: the configuration row, notification rules and
// templates, message formats, the send log, and the service's schedule in the registry. The
// Database functions are free functions on a Database, registered by name on Database from their
// own source files; UpdateEMailJob and GetDbName are members of Notifications.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "automation/automation.h"

namespace ado {
class Recordset;
}

namespace brisquel {

class Database;
class MultipartFormData;
class Notifications;
using RecordsetPtr = std::shared_ptr<ado::Recordset>;

// ---- The site record and the configuration row (email_config.cpp)

// Writes the site record's address. Site administrators only; False with a sentence otherwise or
// when the address is longer than 100 characters.
bool SetWebsiteURL(Database& db, const std::string& url, const std::string& submittedByUserId);
RecordsetPtr GetVantrelSiteRs(Database& db);
// The configuration row. Its SmtpPassword column is always empty: the stored password never
// leaves the library (the sender takes it through GetSmtpPassword).
RecordsetPtr GetEMailConfigRs(Database& db);
// The stored SMTP password, for the library's own sender only (not callable by name).
std::string GetSmtpPassword(Database& db);
// The configuration row as GetEMailConfigRs reads it, for the sender (not by name). No row raises
// 3021, as reading the reader's empty recordset would.
struct MailConfig {
  bool enabled = false;
  std::string smtpHost;
  int32_t smtpPort = 0;
  int32_t sendTimeout = 0;
  std::string fromAddress;
  bool loginRequired = false;
  std::string smtpUserId;
  int32_t maximumDeliveryAttempts = 0;
  std::string webSiteUrl;
};
MailConfig ReadMailConfig(Database& db);
// The same, none when there is no row.
std::optional<MailConfig> FindMailConfig(Database& db);
// Saves the posted settings into the row of `rsEMailConfig` (as GetEMailConfigRs returned it) and,
// once committed, brings the registry schedule up to date. A blank posted password keeps the
// stored one, unless the user id is blank too (no login at all: the stored password is cleared).
bool UpdateEMailConfig(Database& db, const std::string& submittedByUserId, const std::string& virtualDirectoryPath,
                       RecordsetPtr rsEMailConfig, std::shared_ptr<MultipartFormData> formData);
RecordsetPtr GetEMailDeliveryFrequencyRs(Database& db);
RecordsetPtr GetEMailNotificationsLogRs(Database& db);

// ---- Readers of rules, templates and message formats (email_config.cpp)
RecordsetPtr GetEMailNotificationsRs(Database& db, const std::string& userId, int32_t projectId);
RecordsetPtr GetEMailNotificationRuleRs(Database& db, const std::string& userId,
                                        const std::string& notificationRuleId);
RecordsetPtr GetEMailWorkflowTransitionsRs(Database& db, const std::string& userId, int32_t projectId);
RecordsetPtr GetIssueTextFieldsRs(Database& db, const std::string& userId);
RecordsetPtr GetEMailTemplatesRs(Database& db, const std::string& userId);
RecordsetPtr GetEMailTemplateRs(Database& db, const std::string& templateName);
RecordsetPtr GetEMailTemplateTypesRs(Database& db, const std::string& userId);
RecordsetPtr GetEMailTemplateTypeRs(Database& db, const std::string& templateTypeName);
RecordsetPtr GetEMailTemplateTypePartsRs(Database& db, const std::string& userId, const std::string& templateTypeName);
RecordsetPtr GetTemplateTypePartsRs(Database& db, const std::string& templateTypeName);
RecordsetPtr GetTemplateTypeHeadersRs(Database& db, const std::string& templateTypeName);
RecordsetPtr GetEMailTemplateTypePartHeadersRs(Database& db, const std::string& templateTypeName,
                                               const std::string& partName);
RecordsetPtr GetEMailTemplatePartRs(Database& db, const std::string& templateName, const std::string& templateTypeName,
                                    const std::string& partName);

// ---- Rule and template writers (rules_templates.cpp). Rules: site administrators, or the
// administrators of the rule's project (a rule for every project needs a site administrator);
// templates: site administrators.
bool CreateNotificationRule(Database& db, const std::string& submittedByUserId,
                            std::shared_ptr<MultipartFormData> formData);
bool UpdateNotificationRule(Database& db, const std::string& submittedByUserId, RecordsetPtr rsRule,
                            std::shared_ptr<MultipartFormData> formData);
bool DeleteNotificationRule(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);
bool CreateEMailTemplate(Database& db, const std::string& submittedByUserId,
                         std::shared_ptr<MultipartFormData> formData);
bool UpdateEMailTemplate(Database& db, const std::string& submittedByUserId, RecordsetPtr rsTemplate,
                         std::shared_ptr<MultipartFormData> formData);
bool DeleteEMailTemplate(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData);

// ---- The service's schedule in the registry (schedule.cpp)

// The database name of the connection: the value of its first "Initial Catalog=" item, "" when
// it has none.
std::string GetDbName(Notifications& n, Database& db);
// Registers the database (or removes its registration) and sets EMailSchedule from the
// configuration as `db` reads it. Registry failures are raised.
bool UpdateEMailJob(Notifications& n, Database& db, const std::string& virtualDirectoryPath);

// What UpdateEMailJob may change in the registry for this site, as it stands now, so that a save
// whose registry write or commit fails can put it back (not by name).
struct ScheduleState {
  std::string name;                         // the database name; "" when it cannot be read
  std::optional<std::string> registration;  // the value under Databases
  std::optional<std::string> schedule;      // EMailSchedule
};
ScheduleState CurrentSchedule(Notifications& n, Database& db);
// Writes the earlier state back; a failure here is logged, never raised (it runs while another
// failure is on its way to the caller).
void RestoreSchedule(const ScheduleState& s) noexcept;

}  // namespace brisquel

// Writers of notification rules and message templates, behind the rule and template
// administration pages.
#include <vector>

#include "ado/ado.h"
#include "core/buffer.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "core/writer.h"
#include "notifications/email_config.h"
#include "notifications/email_forms.h"

namespace brisquel {

using automation::Variant;
using namespace mailforms;

namespace {

constexpr std::string_view kClass = "Database";

// Templates made here always have the HTML message format.
constexpr const char* kFormat = "HTML";

// A rule for one project may be kept by that project's administrators; a rule for every project
// (-1) only by site administrators.
bool MayAdministerRule(Database& db, const std::string& userId, int32_t projectId) {
  if (UserIsSiteAdmin(db, userId)) return true;
  return projectId != -1 && UserIsProjectAdmin(db, userId, projectId);
}

struct RulePost {
  std::string name;
  bool active = false;
  std::string templateName;
  int16_t event = 0;
  int32_t action = 0;
  int16_t recipient = 0;
  std::string address;
};

// Reads and checks the posted rule; "" when it is valid, else the first problem's sentence. A
// template is named by its page's list; one no row holds is refused here, not by the foreign key.
std::string ReadRule(Database& db, const FormFields& f, bool update, RulePost& r) {
  r.name = PostedText(f, "NotificationRuleName");
  if (r.name.empty()) return "Rule name cannot be blank.";
  if (CharLength(r.name) > 50) return "Rule name cannot be longer than 50 characters.";
  r.active = EqualsNoCase(PostedText(f, "Active"), "on");
  r.templateName = PostedText(f, "TemplateName");
  if (r.templateName.empty()) return "Template cannot be blank.";
  if (CharLength(r.templateName) > 50) return "Template cannot be longer than 50 characters.";
  if (!db.Exists("select 1 from EMailTemplates where TemplateName = ?", {ado::Param::Text(r.templateName, 50)}))
    return "The template '" + r.templateName + "' does not exist.";
  if (!CnvToInt(PostedText(f, "NotificationEventType"), r.event) || r.event < 1 || r.event > 4)
    return "Notification event must be 1 to 4.";
  r.action = 0;
  if (r.event == 4) {
    if (!CnvToLong(PostedText(f, "ActionId"), r.action)) return "Workflow action must be a number.";
    if (update && r.action == -1) return "Workflow action cannot be blank.";
  }
  if (!CnvToInt(PostedText(f, "RecipientType"), r.recipient) || r.recipient < 1 || r.recipient > 5)
    return "Recipient type must be 1 to 5.";
  r.address.clear();
  if (r.recipient == 4) {
    r.address = PostedText(f, "RecipientAddress1");
    if (r.address.empty()) return "Issue field cannot be blank.";
    if (CharLength(r.address) > 50) return "Issue field cannot be longer than 50 characters.";
    return LineBreakRefusal(r.address, "Issue field");
  } else if (r.recipient == 5) {
    r.address = PostedText(f, "RecipientAddress2");
    if (r.address.empty()) return "E-Mail address cannot be blank.";
    if (CharLength(r.address) > 50) return "E-Mail address cannot be longer than 50 characters.";
    return LineBreakRefusal(r.address, "E-Mail address");
  }
  return {};
}

struct Part {
  std::string name;
  std::string content;
};

// The posted parts: each PartContent with the PartType at the same position, both as posted, each
// no longer than its column.
std::vector<Part> PostedParts(const FormFields& f, std::string_view method) {
  const std::vector<std::string>& contents = f.Values("PartContent");
  const std::vector<std::string>& names = f.Values("PartType");
  if (names.size() < contents.size())
    ThrowError(kClass, method, "Every posted PartContent needs a PartType at the same position.");
  std::vector<Part> parts;
  for (size_t i = 0; i < contents.size(); ++i) {
    CheckLength(names[i], 50, "Part name");
    CheckLength(contents[i], 6000, names[i] + " part");
    parts.push_back({names[i], contents[i]});
  }
  return parts;
}

// The checked rules, URL-decoded, in the order posted: each a rule id.
std::vector<int32_t> CheckedRules(const FormFields& f) {
  std::vector<int32_t> out;
  for (const std::string& key : PostedKeys(f, "chkEMailRule", "rule id", std::string::npos))
    out.push_back(PostedId(key, "rule id"));
  return out;
}

}  // namespace

// ---- Rules

bool CreateNotificationRule(Database& db, const std::string& submittedByUserId,
                            std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "CreateNotificationRule";
  return Writer(db, kClass, kMethod, [&] {
    const FormFields& f = PostedFields(formData, kMethod);
    int32_t projectId = 0;
    if (!CnvToLong(PostedText(f, "ProjectId"), projectId)) Refuse("Project id must be a number.");
    if (!MayAdministerRule(db, submittedByUserId, projectId)) Refuse(kPermissionDenied);
    RulePost r;
    if (std::string problem = ReadRule(db, f, false, r); !problem.empty()) Refuse(problem);

    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          db.Exec(
              "insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, TemplateName, "
              "NotificationEventType, WorkflowId, ActionId, RecipientType, RecipientAddress) values (?, ?, ?, ?, ?, "
              "1, ?, ?, ?)",
              {ado::Param::Long(projectId), ado::Param::Text(r.name, 50), ado::Param::Bool(r.active),
               ado::Param::Text(r.templateName, 50), ado::Param::Long(int32_t{r.event}), ado::Param::Long(r.action),
               ado::Param::Long(int32_t{r.recipient}), ado::Param::Text(r.address, 50)});
        },
        [&](const automation::LastError& e) {
          return DuplicateFailure(db, e, "The rule '" + r.name + "' already exists.");
        });
    tx.Commit();
    return true;
  });
}

bool UpdateNotificationRule(Database& db, const std::string& submittedByUserId, RecordsetPtr rsRule,
                            std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateNotificationRule";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsRule, "EMailNotificationRules", kMethod);
    const FormFields& f = PostedFields(formData, kMethod);
    // The rule's project as it was read: the writer never moves a rule to another project.
    Variant project = rs.Field("ProjectId").OriginalValue();
    int32_t projectId = project.IsNull() || project.IsEmpty() ? -1 : project.ToLong();
    if (!MayAdministerRule(db, submittedByUserId, projectId)) Refuse(kPermissionDenied);
    RulePost r;
    if (std::string problem = ReadRule(db, f, true, r); !problem.empty()) Refuse(problem);

    Database::Transaction tx(db);
    rs.SetValue("NotificationRuleName", Variant(r.name));
    rs.SetValue("Active", Variant(r.active));
    rs.SetValue("TemplateName", Variant(r.templateName));
    rs.SetValue("NotificationEventType", Variant::Integer(r.event));
    rs.SetValue("ActionId", Variant(r.action));
    rs.SetValue("RecipientType", Variant::Integer(r.recipient));
    rs.SetValue("RecipientAddress", Variant(r.address));
    WriteStep(db, [&] { db.WriteBack(rs); }, kConflict);
    tx.Commit();
    return true;
  });
}

namespace {

// A project administrator may delete the rules of the projects he administers, nothing else.
bool MayDeleteRules(Database& db, const std::string& userId, const std::vector<int32_t>& ids) {
  const UserRoles roles = ReadUserRoles(db, userId);
  if (roles.siteAdmin) return true;
  if (!roles.projectAdmin) return false;
  for (int32_t ruleId : ids) {
    Variant project = db.Scalar("select ProjectId from EMailNotificationRules where NotificationRuleId = ?",
                                {ado::Param::Long(ruleId)});
    if (project.IsEmpty()) continue;  // no such rule: nothing to delete
    int32_t projectId = project.IsNull() ? -1 : project.ToLong();
    if (projectId == -1 || !UserIsProjectAdmin(db, userId, projectId)) return false;
  }
  return true;
}

}  // namespace

bool DeleteNotificationRule(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "DeleteNotificationRule";
  return Writer(db, kClass, kMethod, [&] {
    const FormFields& f = PostedFields(formData, kMethod);
    const std::vector<int32_t> ids = CheckedRules(f);
    if (!MayDeleteRules(db, userId, ids)) Refuse(kPermissionDenied);

    Database::Transaction tx(db);
    for (int32_t id : ids) {
      WriteStep(db, [&] {
        db.Exec("delete from EMailNotificationRules where EMailNotificationRules.NotificationRuleId = ?",
                {ado::Param::Long(id, "NotificationRuleId")});
      });
    }
    tx.Commit();
    return true;
  });
}

// ---- Templates

namespace {

// The posted subject: not blank (`blank` says so otherwise), at most 256 characters.
std::string PostedSubject(const FormFields& f, std::string_view blank) {
  std::string subject = PostedText(f, "Subject");
  if (subject.empty()) Refuse(std::string(blank));
  if (CharLength(subject) > 256) Refuse("Subject cannot be longer than 256 characters.");
  RefuseLineBreak(subject, "Subject");
  return subject;
}

// Whether the HTML message format has a part of that name, and the sentence when it has none.
bool FormatHasPart(Database& db, const std::string& partName) {
  return db.Exists("select 1 from EMailTemplateTypeParts where TemplateTypeName = 'HTML' and PartName = ?",
                   {ado::Param::Text(partName, 50)});
}
std::string NoSuchPart(const std::string& partName) {
  return "The message format of the template has no part named '" + partName + "'.";
}

void InsertPart(Database& db, const std::string& name, const Part& p) {
  db.Exec(
      "insert into EMailTemplateParts (TemplateName, TemplateTypeName, PartName, PartContent) values (?, "
      "'HTML', ?, ?)",
      {ado::Param::Text(name, 50, "TemplateName"), ado::Param::Text(p.name, 50, "PartName"),
       ado::Param::Text(p.content, 6000, "PartContent")});
}

}  // namespace

bool CreateEMailTemplate(Database& db, const std::string& submittedByUserId,
                         std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "CreateEMailTemplate";
  return Writer(db, kClass, kMethod, [&] {
    if (!UserIsSiteAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const FormFields& f = PostedFields(formData, kMethod);
    const std::string name = PostedText(f, "TemplateName");
    if (name.empty()) Refuse("Template name cannot be blank.");
    if (CharLength(name) > 50) Refuse("Template name cannot be longer than 50 characters.");
    const std::string subject = PostedSubject(f, "Subject cannot be blank.");
    const std::vector<Part> parts = PostedParts(f, kMethod);
    // A part the format lacks is named here, not left to the foreign key.
    for (const Part& p : parts)
      if (!FormatHasPart(db, p.name)) Refuse(NoSuchPart(p.name));

    Database::Transaction tx(db);
    WriteStep(
        db,
        [&] {
          db.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values (?, ?, ?)",
                  {ado::Param::Text(name, 50), ado::Param::Text(kFormat, 50), ado::Param::Text(subject, 256)});
        },
        [&](const automation::LastError& e) {
          return DuplicateFailure(db, e, "The template '" + name + "' already exists.");
        });
    for (const Part& p : parts) {
      // The template row went in, so a duplicate here is a part posted twice.
      WriteStep(db, [&] { InsertPart(db, name, p); }, [&](const automation::LastError& e) {
        return DuplicateFailure(db, e, "The part '" + p.name + "' was posted more than once.");
      });
    }
    tx.Commit();
    return true;
  });
}

namespace {

// The posted parts into the template's rows. A posted part the template lacks is added when its
// format has it, and refused otherwise: a posted part is never dropped while the save reports
// success. "" when all went in, else the refusal.
std::string WriteParts(Database& db, const std::string& name, const std::vector<Part>& parts) {
  for (const Part& p : parts) {
    int64_t changed = db.Exec(
        "update EMailTemplateParts set PartContent = ? where EMailTemplateParts.TemplateName = ? and "
        "EMailTemplateParts.TemplateTypeName = 'HTML' and EMailTemplateParts.PartName = ?",
        {ado::Param::Text(p.content, 6000, "PartContent"), ado::Param::Text(name, 50, "TemplateName"),
         ado::Param::Text(p.name, 50, "PartName")});
    if (changed > 0) continue;
    if (!db.Exists("select 1 from EMailTemplates where TemplateName = ?", {ado::Param::Text(name, 50)}))
      return kConflict;  // deleted by another session
    if (!FormatHasPart(db, p.name)) return NoSuchPart(p.name);
    InsertPart(db, name, p);
  }
  return {};
}

}  // namespace

bool UpdateEMailTemplate(Database& db, const std::string& submittedByUserId, RecordsetPtr rsTemplate,
                         std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "UpdateEMailTemplate";
  return Writer(db, kClass, kMethod, [&] {
    ado::Recordset& rs = HeldRows(rsTemplate, "EMailTemplates", kMethod);
    if (!UserIsSiteAdmin(db, submittedByUserId)) Refuse(kPermissionDenied);
    const FormFields& f = PostedFields(formData, kMethod);
    const std::string subject = PostedSubject(f, "Subject name cannot be blank.");
    const std::vector<Part> parts = PostedParts(f, kMethod);
    const std::string name = rs.Value("TemplateName").ToString();

    Database::Transaction tx(db);
    rs.SetValue("Subject", Variant(subject));
    std::string refusal;
    WriteStep(db, [&] {
      refusal = WriteParts(db, name, parts);
      if (refusal.empty()) db.WriteBack(rs);
    }, kConflict);
    if (!refusal.empty()) Refuse(refusal);
    tx.Commit();
    return true;
  });
}

bool DeleteEMailTemplate(Database& db, const std::string& userId, std::shared_ptr<MultipartFormData> formData) {
  constexpr std::string_view kMethod = "DeleteEMailTemplate";
  return Writer(db, kClass, kMethod, [&] {
    if (!UserIsSiteAdmin(db, userId)) Refuse(kPermissionDenied);
    const FormFields& f = PostedFields(formData, kMethod);
    const std::vector<std::string> names = PostedKeys(f, "chkEMailTemplate", "template name", 50);

    Database::Transaction tx(db);
    for (const std::string& name : names) {
      WriteStep(
          db,
          [&] {
            ado::Params p{ado::Param::Text(name, 50, "TemplateName")};
            db.Exec(
                "delete from EMailNotifications where EMailNotifications.TemplateName = ? and "
                "EMailNotifications.StatusCode <> 'Pending'",
                p);
            db.Exec("delete from EMailTemplateParts where EMailTemplateParts.TemplateName = ?", p);
            db.Exec("delete from EMailTemplates where EMailTemplates.TemplateName = ?", p);
          },
          [&](const automation::LastError& e) {
            return ReferenceFailure(db, e,
                                    "At least one notification rule or pending notification uses the '" + name +
                                        "' template. The template could not be deleted.");
          });
    }
    tx.Commit();
    return true;
  });
}

namespace {

automation::Register<Database> reg([](auto& c) {
  c.Method("CreateNotificationRule", &CreateNotificationRule);
  c.Method("UpdateNotificationRule", &UpdateNotificationRule);
  c.Method("DeleteNotificationRule", &DeleteNotificationRule);
  c.Method("CreateEMailTemplate", &CreateEMailTemplate);
  c.Method("UpdateEMailTemplate", &UpdateEMailTemplate);
  c.Method("DeleteEMailTemplate", &DeleteEMailTemplate);
});

}  // namespace

}  // namespace brisquel

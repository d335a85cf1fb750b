// Queueing: one pending EMailNotifications row per distinct address and template among the active
// rules that fire for an issue change, written through the caller's connection so that the rows
// commit or roll back with the change.
#include <optional>
#include <unordered_set>
#include <vector>

#include "ado/ado.h"
#include "core/buffer.h"
#include "core/database.h"
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/multipart.h"
#include "notifications/email_config.h"
#include "notifications/notifications.h"

namespace brisquel {

using automation::Variant;

namespace {

constexpr std::string_view kClass = "Notifications";
constexpr std::string_view kProcedure = "CreatePendingNotifications";
constexpr size_t kAddressChars = 50;  // EMailNotifications.EMailAddress

enum EventType { kIssueCreated = 1, kIssueAssigned = 2, kIssueUpdated = 3, kWorkflowTransition = 4 };
enum RecipientType { kAssignee = 1, kCreator = 2, kPreviousAssignee = 3, kIssueField = 4, kSpecificAddress = 5 };

constexpr const char* kRuleQuery =
    "select "
    "       EMailNotificationRules.NotificationEventType, "
    "       EMailNotificationRules.RecipientType, "
    "       EMailNotificationRules.TemplateName, "
    "       EMailNotificationRules.RecipientAddress, "
    "       FromState.ResolutionCode as FromResolutionCode, "
    "       FromState.StatusCode as FromStatusCode, "
    "       ToState.ResolutionCode as ToResolutionCode, "
    "       ToState.StatusCode as ToStatusCode "
    "    from EMailNotificationRules "
    "       left outer join WorkflowActions on WorkflowActions.ActionId = EMailNotificationRules.ActionId "
    "       left outer join WorkflowStates as FromState on FromState.StateId = WorkflowActions.FromStateId "
    "       left outer join WorkflowStates as ToState on ToState.StateId = WorkflowActions.ToStateId "
    "    where EMailNotificationRules.ProjectId in (-1, ?) and EMailNotificationRules.Active = 1 "
    "order by EMailNotificationRules.NotificationEventType";

constexpr const char* kInsert =
    "insert into EMailNotifications (EMailAddress, IssueId, TemplateName) values (?, ?, ?)";


// Addresses come from columns and rules: blanks around them are no part of the address.
std::string TrimAddress(std::string_view s) { return std::string(automation::TrimBlanks(s)); }

// An active rule of the issue's project (or of every project), with the move it watches.
struct Rule {
  int32_t eventType = 0;
  int32_t recipientType = 0;
  std::string templateName;
  std::string recipientAddress;
  std::optional<std::string> fromResolution, fromStatus, toResolution, toStatus;
};

std::vector<Rule> ReadRules(Database& db, int32_t projectId) {
  std::vector<Rule> rules;
  db.Each(kRuleQuery, {ado::Param::Long(projectId, "ProjectId")}, [&](const sql::Row& r) {
    rules.push_back({r.Long("NotificationEventType"), r.Long("RecipientType"), r.Text("TemplateName"),
                     r.Text("RecipientAddress"), r.OptText("FromResolutionCode"), r.OptText("FromStatusCode"),
                     r.OptText("ToResolutionCode"), r.OptText("ToStatusCode")});
  });
  return rules;
}

// A rule code matches an argument only when the rule has one.
bool CodeMatches(const std::optional<std::string>& ruleCode, const std::string& argument) {
  return ruleCode && EqualsNoCase(*ruleCode, argument);
}

// One mailbox "local@domain" that fits the queue's column: what the sender can deliver to.
bool IsDeliverableAddress(std::string_view a) {
  if (a.empty() || CharLength(a) > kAddressChars) return false;
  size_t at = a.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == a.size() || a.find('@', at + 1) != std::string_view::npos)
    return false;
  for (char c : a) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || std::string_view("\",;<>()[]\\:").find(c) != std::string_view::npos) return false;
  }
  return true;
}

// A rule that cannot be applied is left out, and the administrator learns why from the log.
void LogSkippedRule(int32_t issueId, int32_t eventType, int32_t recipientType, const std::string& templateName,
                    const std::string& reason) {
  WriteErrorEvent(std::string(kLibraryName) + ".dll:" + std::string(kClass) + "." + std::string(kProcedure) +
                  " skipped a notification rule for issue " + std::to_string(issueId) + " (event type " +
                  std::to_string(eventType) + ", recipient type " + std::to_string(recipientType) +
                  ", template '" + templateName + "'): " + reason);
}

class Queue {
 public:
  Queue(Database& db, const std::string& source, const std::string& submittedBy, const std::string& fromUser,
        const std::string& toUser, const std::string& fromResolution, const std::string& fromStatus,
        const std::string& toResolution, const std::string& toStatus)
      : db_(db),
        create_(EqualsNoCase(source, "Create")),
        submittedBy_(submittedBy),
        fromUser_(fromUser),
        toUser_(toUser),
        fromResolution_(fromResolution),
        fromStatus_(fromStatus),
        toResolution_(toResolution),
        toStatus_(toStatus) {}

  bool Fires(const Rule& rule) const {
    switch (rule.eventType) {
      case kIssueCreated: return create_;
      case kIssueAssigned: return !EqualsNoCase(toUser_, fromUser_);
      case kIssueUpdated: return !create_;
      case kWorkflowTransition:
        return !create_ && CodeMatches(rule.fromResolution, fromResolution_) &&
               CodeMatches(rule.fromStatus, fromStatus_) && CodeMatches(rule.toResolution, toResolution_) &&
               CodeMatches(rule.toStatus, toStatus_);
      default: return false;
    }
  }

  // The candidate address of a rule that fires ("" for none). `problem` tells why a rule cannot
  // be applied.
  std::string Candidate(const Rule& rule, const IssueRow& issue, std::string& problem) {
    switch (rule.recipientType) {
      case kAssignee: return UserAddress(toUser_, problem);
      case kCreator: {
        const std::optional<std::string>* creator = issue.Column("CreatedByUserId");
        return creator && *creator ? UserAddress(**creator, problem) : std::string();
      }
      case kPreviousAssignee: return create_ ? std::string() : UserAddress(fromUser_, problem);
      case kIssueField: {
        const std::string& field = rule.recipientAddress;
        if (field.empty() || !issue.Column(field)) {
          problem = "the issue has no field '" + field + "'.";
          return {};
        }
        return issue.Text(field);
      }
      case kSpecificAddress: return rule.recipientAddress;
      default: return {};
    }
  }

  const std::string& SubmitterAddress() {
    if (!submitterRead_) {
      submitterRead_ = true;
      if (!submittedBy_.empty()) {
        if (std::optional<UserMail> u = ReadUserMail(db_, submittedBy_)) submitterAddress_ = TrimAddress(u->address);
      }
    }
    return submitterAddress_;
  }

 private:
  // A user's address, and whether the user takes e-mail.
  struct UserMail {
    std::string address;
    bool enabled = false;
  };
  static std::optional<UserMail> ReadUserMail(Database& db, const std::string& userId) {
    std::optional<UserMail> out;
    db.Each("select UserEMail, EMailEnabled from Users where UserId = ?", {ado::Param::Text(userId, 50)},
            [&](const sql::Row& r) { out = UserMail{r.Text("UserEMail"), r.Flag("EMailEnabled")}; });
    return out;
  }

  // A user's address when the user takes e-mail; "" otherwise.
  std::string UserAddress(const std::string& userId, std::string& problem) {
    if (userId.empty()) return {};
    std::optional<UserMail> u = ReadUserMail(db_, userId);
    if (!u) {
      problem = "there is no user '" + userId + "'.";
      return {};
    }
    return u->enabled ? u->address : std::string();
  }

  Database& db_;
  bool create_;
  std::string submittedBy_, fromUser_, toUser_, fromResolution_, fromStatus_, toResolution_, toStatus_;
  bool submitterRead_ = false;
  std::string submitterAddress_;
};

}  // namespace

bool CreatePendingNotifications(Notifications& n, Database& db, const std::string& source,
                                const std::string& submittedByUserId, int32_t issueId, const std::string& fromUser,
                                const std::string& toUser, const std::string& fromResolutionCode,
                                const std::string& fromStatusCode, const std::string& toResolutionCode,
                                const std::string& toStatusCode) {
  return Procedure(kClass, kProcedure, [&] {
    n.SetLastErrorMessage("");

    // Nothing is queued while e-mail is off for the site or the issue's project.
    if (!db.One<bool>("select EMailEnabled from EMailConfiguration").value_or(false)) return true;
    std::optional<IssueRow> issue = ReadIssueRow(db, issueId);
    if (!issue) return true;
    const int32_t projectId = issue->Long("ProjectId");
    if (!db.One<bool>("SELECT EMailEnabled from Projects where Projects.ProjectId = ?", {ado::Param::Long(projectId)})
             .value_or(false))
      return true;
    const int32_t queuedIssueId = issue->Long("IssueId");

    Queue queue(db, source, submittedByUserId, fromUser, toUser, fromResolutionCode, fromStatusCode,
                toResolutionCode, toStatusCode);
    // Address|template pairs already handled by this call, without regard to case.
    std::unordered_set<std::string, NoCaseHash, NoCaseEqual> seen;
    for (const Rule& rule : ReadRules(db, projectId)) {
      if (!queue.Fires(rule)) continue;
      std::string problem;
      std::string candidate = TrimAddress(queue.Candidate(rule, *issue, problem));
      if (!problem.empty()) {
        LogSkippedRule(queuedIssueId, rule.eventType, rule.recipientType, rule.templateName, problem);
        continue;
      }
      if (candidate.empty()) continue;
      if (!IsDeliverableAddress(candidate)) {
        LogSkippedRule(queuedIssueId, rule.eventType, rule.recipientType, rule.templateName,
                       "the address '" + candidate + "' is not a valid e-mail address.");
        continue;
      }
      if (!seen.insert(candidate + "|" + rule.templateName).second) continue;
      if (EqualsNoCase(queue.SubmitterAddress(), candidate)) continue;  // nobody is told of their own change

      auto failed = db.Trap([&] {
        db.Exec(kInsert, {ado::Param::Text(candidate, 50, "EMailAddress"), ado::Param::Long(queuedIssueId, "IssueID"),
                          ado::Param::Text(rule.templateName, 50, "TemplateName")});
      });
      if (failed) {
        n.SetLastErrorMessage(db.UnexpectedReport(*failed));
        return false;
      }
    }
    return true;
  });
}

namespace {

automation::Register<Notifications> reg([](auto& c) {
  c.Method("CreatePendingNotifications",
           +[](Notifications& n, std::shared_ptr<Database> db, const std::string& source,
               const std::string& submittedByUserId, int32_t issueId, const std::string& fromUser,
               const std::string& toUser, const std::string& fromResolutionCode, const std::string& fromStatusCode,
               const std::string& toResolutionCode, const std::string& toStatusCode) {
             if (!db) automation::RaiseRuntime(automation::vberr::kObjectNotSet);
             return CreatePendingNotifications(n, *db, source, submittedByUserId, issueId, fromUser, toUser,
                                               fromResolutionCode, fromStatusCode, toResolutionCode, toStatusCode);
           });
});

}  // namespace

}  // namespace brisquel

// Queueing notifications for an issue change: which rules fire, who receives, de-duplication,
// the submitter's own address, and rules that cannot be applied.
#include <gtest/gtest.h>

#include <algorithm>

#include "automation/automation.h"
#include "core/database.h"
#include "eventlog/eventlog.h"
#include "notifications/notifications.h"
#include "support/site_db.h"

namespace {

using brisquel::Database;
using brisquel::Notifications;

class Queueing : public ::testing::Test {
 protected:
  Queueing() : file(sitedb::FreshSite(true)), sql(file) {
    sql.Exec("update EMailConfiguration set EMailEnabled = 1");
    // A second template, so that one address can be queued under two.
    sql.Exec("insert into EMailTemplates (TemplateName, TemplateTypeName, Subject) values ('Update Notice', 'HTML', 'x')");
    db = sitedb::Open(file);
    events = eventlog::CaptureInMemory();
  }
  ~Queueing() override { eventlog::SetSink(nullptr); }

  void Rule(int event, int recipient, const std::string& address = "",
            const std::string& templateName = "Assignment Notice", int actionId = 0, int projectId = -1,
            int active = 1) {
    sql.Exec("insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, NotificationEventType, "
             "WorkflowId, ActionId, RecipientType, RecipientAddress, TemplateName) values (" +
             std::to_string(projectId) + ", 'r', " + std::to_string(active) + ", " + std::to_string(event) +
             ", 1, " + std::to_string(actionId) + ", " + std::to_string(recipient) + ", '" + address + "', '" +
             templateName + "')");
  }

  // Runs the queueing inside a committed transaction, as the issue writers do.
  bool Queue(const std::string& source, const std::string& submitter, int issueId, const std::string& fromUser,
             const std::string& toUser, const std::string& fromRes = "New", const std::string& fromStatus = "Open",
             const std::string& toRes = "New", const std::string& toStatus = "Open") {
    Database::Transaction t(*db);
    bool ok = brisquel::CreatePendingNotifications(n, *db, source, submitter, issueId, fromUser, toUser, fromRes,
                                                   fromStatus, toRes, toStatus);
    t.Commit();
    return ok;
  }

  // The queued rows, sorted (rules of one event type come in no set order).
  std::vector<std::string> Queued() {
    auto rows = sql.Rows(
        "select EMailAddress || '|' || TemplateName || '|' || StatusCode || '|' || DeliveryAttempts || '|' || IssueId "
        "from EMailNotifications order by EMailNotificationId");
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::filesystem::path file;
  sitedb::Db sql;
  std::shared_ptr<Database> db;
  Notifications n;
  std::shared_ptr<eventlog::MemorySink> events;
};

using Rows = std::vector<std::string>;

TEST_F(Queueing, ReassignmentQueuesTheAssigneeAndAFixedAddressOnceEach) {
  // The seeded rule tells the new assignee; two more rules name one fixed address (in two
  // spellings) under the same template, and the assignment rule again.
  Rule(2, 5, "lead@example.com");
  Rule(3, 5, "LEAD@Example.com");
  Rule(2, 1);
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "alice"));
  EXPECT_EQ(Queued(), (Rows{"alice@example.com|Assignment Notice|Pending|0|5",
                            "lead@example.com|Assignment Notice|Pending|0|5"}));
  EXPECT_EQ(n.GetLastErrorMessage(), "");
}

TEST_F(Queueing, OneAddressUnderTwoTemplatesGivesTwoRows) {
  Rule(3, 5, "lead@example.com", "Update Notice");
  Rule(3, 5, "lead@example.com");
  EXPECT_TRUE(Queue("Update", "carol", 5, "bob", "bob"));
  // The assignment rule does not fire: the assignee did not change.
  EXPECT_EQ(Queued(), (Rows{"lead@example.com|Assignment Notice|Pending|0|5",
                            "lead@example.com|Update Notice|Pending|0|5"}));
}

TEST_F(Queueing, TheSubmittersOwnAddressIsNeverQueued) {
  // Issue 5 was created by alice; alice hands it to herself and is every kind of recipient.
  Rule(3, 2);                            // creator
  Rule(3, 5, "ALICE@example.COM", "Update Notice");  // her address, typed in another case
  Rule(3, 3, "", "Update Notice");       // previous assignee: bob
  EXPECT_TRUE(Queue("Update", "Alice", 5, "bob", "alice"));
  EXPECT_EQ(Queued(), (Rows{"bob@example.com|Update Notice|Pending|0|5"}));
}

TEST_F(Queueing, NothingIsQueuedWhenEMailIsOffOrTheIssueIsUnknown) {
  Rule(3, 5, "lead@example.com");
  sql.Exec("update EMailConfiguration set EMailEnabled = 0");
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "alice"));
  EXPECT_TRUE(Queued().empty());

  sql.Exec("update EMailConfiguration set EMailEnabled = 1");
  sql.Exec("update Projects set EMailEnabled = 0 where ProjectId = 1");
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "alice"));
  EXPECT_TRUE(Queued().empty());

  sql.Exec("update Projects set EMailEnabled = 1 where ProjectId = 1");
  EXPECT_TRUE(Queue("Reassign", "carol", 999, "bob", "alice"));
  EXPECT_TRUE(Queued().empty());

  sql.Exec("delete from EMailConfiguration");
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "alice"));
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(n.GetLastErrorMessage(), "");
}

TEST_F(Queueing, AUserWithEMailOffGetsNothingWhileOthersStillDo) {
  sql.Exec("update Users set EMailEnabled = 0 where UserId = 'alice'");
  Rule(2, 5, "lead@example.com");
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "alice"));
  EXPECT_EQ(Queued(), (Rows{"lead@example.com|Assignment Notice|Pending|0|5"}));
}

TEST_F(Queueing, CreateFiresCreationAndAssignmentRulesOnly) {
  Rule(1, 5, "created@example.com");
  Rule(3, 5, "updated@example.com");
  Rule(4, 5, "transition@example.com", "Assignment Notice", 3);
  Rule(1, 3, "", "Update Notice");  // previous assignee: nobody on creation
  Rule(1, 5, "inactive@example.com", "Assignment Notice", 0, -1, 0);
  Rule(1, 5, "otherproject@example.com", "Assignment Notice", 0, 2);
  EXPECT_TRUE(Queue("CREATE", "dave", 5, "", "alice", "New", "Open", "Fixed", "Open"));
  EXPECT_EQ(Queued(), (Rows{"alice@example.com|Assignment Notice|Pending|0|5",
                            "created@example.com|Assignment Notice|Pending|0|5"}));
}

TEST_F(Queueing, WorkflowTransitionRulesMatchTheActionsStates) {
  Rule(4, 5, "fix@example.com", "Assignment Notice", 3);   // New/Open -> Fixed/Open
  Rule(4, 5, "verify@example.com", "Assignment Notice", 4);  // Fixed/Open -> Fixed/Closed
  Rule(4, 5, "none@example.com", "Assignment Notice", 0);  // no action: never fires
  EXPECT_TRUE(Queue("Update", "carol", 5, "bob", "bob", "new", "OPEN", "fixed", "open"));
  EXPECT_EQ(Queued(), (Rows{"fix@example.com|Assignment Notice|Pending|0|5"}));
}

TEST_F(Queueing, ARuleThatCannotBeAppliedIsSkippedAndLogged) {
  sql.Exec("update Issues set Summary = 'qa@example.com' where IssueId = 5");
  Rule(3, 4, "NoSuchField");
  Rule(3, 5, "not an address");
  Rule(3, 5, "far-too-long-" + std::string(40, 'x') + "@example.com");
  Rule(3, 4, "Summary", "Update Notice");
  Rule(3, 5, "lead@example.com");
  // The new assignee names no user: the assignment rule cannot be applied either.
  EXPECT_TRUE(Queue("Reassign", "carol", 5, "bob", "nobody"));
  EXPECT_EQ(Queued(), (Rows{"lead@example.com|Assignment Notice|Pending|0|5", "qa@example.com|Update Notice|Pending|0|5"}));
  EXPECT_EQ(n.GetLastErrorMessage(), "");

  std::string log;
  for (const auto& e : events->Events()) log += e.text + "\n";
  EXPECT_NE(log.find("the issue has no field 'NoSuchField'"), std::string::npos) << log;
  EXPECT_NE(log.find("'not an address' is not a valid e-mail address"), std::string::npos) << log;
  EXPECT_NE(log.find("far-too-long-"), std::string::npos) << log;
  EXPECT_NE(log.find("there is no user 'nobody'"), std::string::npos) << log;
}

TEST_F(Queueing, RowsGoWithTheCallersTransaction) {
  Rule(3, 5, "lead@example.com");
  {
    Database::Transaction t(*db);
    EXPECT_TRUE(brisquel::CreatePendingNotifications(n, *db, "Update", "carol", 5, "bob", "bob", "", "", "", ""));
  }  // left without commit
  EXPECT_TRUE(Queued().empty());
}

TEST_F(Queueing, AFailedInsertReportsFalseWithTheError) {
  Rule(3, 5, "lead@example.com");
  sql.Exec("create trigger Refuse before insert on EMailNotifications begin select raise(abort, 'queue closed'); end");
  EXPECT_FALSE(Queue("Update", "carol", 5, "bob", "bob"));
  EXPECT_EQ(n.GetLastErrorMessage().rfind("An unexpected error has occurred.", 0), 0u) << n.GetLastErrorMessage();
  EXPECT_NE(n.GetLastErrorMessage().find("queue closed"), std::string::npos) << n.GetLastErrorMessage();
  // The next call starts clean.
  sql.Exec("drop trigger Refuse");
  EXPECT_TRUE(Queue("Update", "carol", 5, "bob", "bob"));
  EXPECT_EQ(n.GetLastErrorMessage(), "");
}

TEST_F(Queueing, CallableByNameWithTheDatabaseObject) {
  Rule(3, 5, "lead@example.com");
  auto notifications = automation::CreateObject("Brisquel.Notifications");
  Database::Transaction t(*db);
  automation::Variant ok = notifications->Call(
      "CreatePendingNotifications", {automation::Variant(db), "Update", "carol", 5, "bob", "bob", "", "", "", ""});
  t.Commit();
  EXPECT_TRUE(ok.ToBool());
  EXPECT_EQ(Queued(), (Rows{"lead@example.com|Assignment Notice|Pending|0|5"}));
}

}  // namespace

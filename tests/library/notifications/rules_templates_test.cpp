#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mail_site.h"

namespace brisquel::mailtest {
namespace {

using automation::Variant;
constexpr const char* kConflict = "Another session has changed this information. You must cancel your changes.";

class RulesTest : public MailSite {
 protected:
  std::shared_ptr<MultipartFormData> Rule(const std::map<std::string, std::string>& changes = {}) {
    std::map<std::string, std::string> f = {{"ProjectId", "-1"},        {"NotificationRuleName", "Tell the lead"},
                                            {"Active", "on"},           {"TemplateName", "Assignment Notice"},
                                            {"NotificationEventType", "3"}, {"ActionId", "-1"},
                                            {"RecipientType", "5"},     {"RecipientAddress1", ""},
                                            {"RecipientAddress2", "lead@example.com"}};
    for (const auto& [k, v] : changes) f[k] = v;
    auto form = std::make_shared<MultipartFormData>();
    for (const auto& [k, v] : f) form->Fields()->Add(k, v);
    return form;
  }
  // The stored rule of that name: project, active, event, workflow, action, recipient type, address.
  std::string StoredRule(const std::string& name) {
    return raw.Text(
        "select ProjectId || '|' || Active || '|' || NotificationEventType || '|' || WorkflowId || '|' || ActionId "
        "|| '|' || RecipientType || '|' || RecipientAddress from EMailNotificationRules where NotificationRuleName = '" +
        name + "'");
  }
  long long RuleCount() { return raw.Int("select count(*) from EMailNotificationRules"); }
  long long NewRule(const std::string& name, int projectId = -1) {
    raw.Exec(
        "insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, NotificationEventType, "
        "WorkflowId, ActionId, RecipientType, RecipientAddress, TemplateName) values (" +
        std::to_string(projectId) + ", '" + name + "', 1, 1, 1, 0, 1, '', 'Assignment Notice')");
    return raw.Int("select max(NotificationRuleId) from EMailNotificationRules");
  }
};

TEST_F(RulesTest, CreateChecksEachItemInOrder) {
  const std::string s51(51, 'r');
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"ProjectId", "all"}}, "Project id must be a number."},
      {{{"NotificationRuleName", " "}}, "Rule name cannot be blank."},
      {{{"NotificationRuleName", s51}}, "Rule name cannot be longer than 50 characters."},
      {{{"TemplateName", ""}}, "Template cannot be blank."},
      {{{"TemplateName", s51}}, "Template cannot be longer than 50 characters."},
      {{{"NotificationEventType", "0"}}, "Notification event must be 1 to 4."},
      {{{"NotificationEventType", "5"}}, "Notification event must be 1 to 4."},
      {{{"NotificationEventType", "update"}}, "Notification event must be 1 to 4."},
      {{{"NotificationEventType", "4"}, {"ActionId", "fix"}}, "Workflow action must be a number."},
      {{{"RecipientType", "6"}}, "Recipient type must be 1 to 5."},
      {{{"RecipientType", "someone"}}, "Recipient type must be 1 to 5."},
      {{{"RecipientType", "4"}, {"RecipientAddress1", ""}}, "Issue field cannot be blank."},
      {{{"RecipientType", "4"}, {"RecipientAddress1", s51}}, "Issue field cannot be longer than 50 characters."},
      {{{"RecipientType", "5"}, {"RecipientAddress2", ""}}, "E-Mail address cannot be blank."},
      {{{"RecipientType", "5"}, {"RecipientAddress2", std::string(51, 'a')}},
       "E-Mail address cannot be longer than 50 characters."},
      {{{"RecipientType", "5"}, {"RecipientAddress2", "a@example.com\r\nBcc: b@example.com"}},
       "E-Mail address cannot contain a line break."},
      {{{"NotificationRuleName", ""}, {"TemplateName", ""}, {"RecipientType", "9"}}, "Rule name cannot be blank."},
  };
  const long long before = RuleCount();
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(CreateNotificationRule(*db, "admin", Rule(changes))) << message;
    EXPECT_EQ(db->LastErrorMessage(), message);
  }
  EXPECT_EQ(RuleCount(), before);
}

TEST_F(RulesTest, CreateStoresWhatTheEventAndRecipientNeed) {
  ASSERT_TRUE(CreateNotificationRule(*db, "admin", Rule({{"NotificationRuleName", " Updated "}, {"Active", "ON"},
                                                         {"ActionId", "junk"}, {"RecipientType", "5"},
                                                         {"RecipientAddress1", std::string(80, 'x')}})))
      << db->LastErrorMessage();
  EXPECT_EQ(db->LastErrorMessage(), "");
  // Events 1 to 3 store action 0 without reading it; the issue field is not read for type 5.
  EXPECT_EQ(StoredRule("Updated"), "-1|1|3|1|0|5|lead@example.com");

  ASSERT_TRUE(CreateNotificationRule(*db, "admin", Rule({{"NotificationRuleName", "Fixed"}, {"Active", "1"},
                                                         {"NotificationEventType", "4"}, {"ActionId", "3"},
                                                         {"RecipientType", "4"}, {"RecipientAddress1", "Summary"}})));
  EXPECT_EQ(StoredRule("Fixed"), "-1|0|4|1|3|4|Summary");

  auto noActive = Rule({{"NotificationRuleName", "Creator"}, {"RecipientType", "2"}, {"ProjectId", "1"}});
  noActive->Fields()->Remove(Variant("Active"));
  ASSERT_TRUE(CreateNotificationRule(*db, "admin", noActive));
  EXPECT_EQ(StoredRule("Creator"), "1|0|3|1|0|2|");

  // The create writer keeps an action of -1; the update writer refuses it.
  ASSERT_TRUE(CreateNotificationRule(*db, "admin", Rule({{"NotificationRuleName", "Any"},
                                                         {"NotificationEventType", "4"}, {"ActionId", "-1"}})));
  EXPECT_EQ(StoredRule("Any"), "-1|1|4|1|-1|5|lead@example.com");
}

TEST_F(RulesTest, CreateWithAMissingTemplateFailsAndWritesNothing) {
  const long long before = RuleCount();
  EXPECT_FALSE(CreateNotificationRule(*db, "admin", Rule({{"TemplateName", "No such template"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The template 'No such template' does not exist.");
  EXPECT_EQ(RuleCount(), before);
  EXPECT_FALSE(db->Connection().InTransaction());
}

TEST_F(RulesTest, UpdateWritesThePostedRuleAndKeepsProjectAndWorkflow) {
  raw.Exec("update EMailNotificationRules set ProjectId = 1, WorkflowId = 1 where NotificationRuleId = 13");
  auto rs = GetEMailNotificationRuleRs(*db, "admin", "13");
  ASSERT_FALSE(rs->IsEOF());
  ASSERT_TRUE(UpdateNotificationRule(*db, "admin", rs,
                                     Rule({{"NotificationRuleName", "Fixed issues"}, {"ProjectId", "-1"},
                                           {"Active", ""}, {"NotificationEventType", "4"}, {"ActionId", "3"},
                                           {"RecipientType", "4"}, {"RecipientAddress1", "Summary"}})))
      << db->LastErrorMessage();
  EXPECT_EQ(StoredRule("Fixed issues"), "1|0|4|1|3|4|Summary");

  auto again = GetEMailNotificationRuleRs(*db, "admin", "13");
  EXPECT_FALSE(UpdateNotificationRule(*db, "admin", again, Rule({{"NotificationEventType", "4"}, {"ActionId", "-1"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Workflow action cannot be blank.");
  EXPECT_FALSE(UpdateNotificationRule(*db, "admin", again, Rule({{"NotificationEventType", "4"}, {"ActionId", "x"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Workflow action must be a number.");
  EXPECT_FALSE(UpdateNotificationRule(*db, "admin", again, Rule({{"TemplateName", ""}, {"NotificationEventType", "9"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Template cannot be blank.");
  EXPECT_EQ(StoredRule("Fixed issues"), "1|0|4|1|3|4|Summary");
}

TEST_F(RulesTest, UpdateOfARuleChangedMeanwhileIsRefused) {
  auto rs = GetEMailNotificationRuleRs(*db, "admin", "13");
  raw.Exec("update EMailNotificationRules set NotificationRuleName = 'Renamed elsewhere' where NotificationRuleId = 13");
  EXPECT_FALSE(UpdateNotificationRule(*db, "admin", rs, Rule({{"NotificationRuleName", "Mine"}})));
  EXPECT_EQ(db->LastErrorMessage(), kConflict);
  EXPECT_EQ(raw.Text("select NotificationRuleName from EMailNotificationRules where NotificationRuleId = 13"),
            "Renamed elsewhere");
}

TEST_F(RulesTest, DeleteTakesOneOrSeveralCheckedRulesAllOrNothing) {
  const long long a = NewRule("A"), b = NewRule("B"), c = NewRule("C");
  // Nothing checked: nothing to do.
  EXPECT_TRUE(DeleteNotificationRule(*db, "admin", Form({})));
  EXPECT_EQ(RuleCount(), 4);
  // One box, URL-encoded.
  const std::string encoded = "%3" + std::to_string(a).substr(0, 1) + std::to_string(a).substr(1);
  ASSERT_TRUE(DeleteNotificationRule(*db, "admin", Form({{"chkEMailRule", encoded}})));
  EXPECT_EQ(raw.Int("select count(*) from EMailNotificationRules where NotificationRuleId = " + std::to_string(a)), 0);
  // A bad id among several: none of them is deleted.
  EXPECT_FALSE(DeleteNotificationRule(
      *db, "admin", Form({{"chkEMailRule", std::to_string(b)}, {"chkEMailRule", "x"}, {"chkEMailRule", "13"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The rule id 'x' is not a valid number.");
  EXPECT_EQ(RuleCount(), 3);
  // Several boxes.
  ASSERT_TRUE(DeleteNotificationRule(*db, "admin",
                                     Form({{"chkEMailRule", std::to_string(b)}, {"chkEMailRule", std::to_string(c)}})));
  EXPECT_EQ(RuleCount(), 1);
}

TEST_F(RulesTest, ProjectAdministratorsKeepTheirProjectsRulesOnly) {
  // bob administers nothing.
  EXPECT_FALSE(CreateNotificationRule(*db, "bob", Rule({{"ProjectId", "1"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  // alice administers Demo (1) but not the rules for every project.
  EXPECT_FALSE(CreateNotificationRule(*db, "alice", Rule({{"ProjectId", "-1"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  EXPECT_FALSE(CreateNotificationRule(*db, "alice", Rule({{"ProjectId", "2"}})));
  EXPECT_EQ(RuleCount(), 1);
  ASSERT_TRUE(CreateNotificationRule(*db, "alice", Rule({{"ProjectId", "1"}, {"NotificationRuleName", "Demo"}})))
      << db->LastErrorMessage();
  const std::string demoId = raw.Text("select NotificationRuleId from EMailNotificationRules where ProjectId = 1");

  EXPECT_FALSE(UpdateNotificationRule(*db, "alice", GetEMailNotificationRuleRs(*db, "alice", "13"), Rule()));
  EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  EXPECT_FALSE(UpdateNotificationRule(*db, "bob", GetEMailNotificationRuleRs(*db, "bob", demoId), Rule()));
  EXPECT_TRUE(UpdateNotificationRule(*db, "alice", GetEMailNotificationRuleRs(*db, "alice", demoId),
                                     Rule({{"NotificationRuleName", "Demo renamed"}})));

  // A delete that includes a rule she may not touch deletes nothing.
  EXPECT_FALSE(DeleteNotificationRule(*db, "alice", Form({{"chkEMailRule", demoId}, {"chkEMailRule", "13"}})));
  EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  EXPECT_FALSE(DeleteNotificationRule(*db, "bob", Form({{"chkEMailRule", demoId}})));
  EXPECT_EQ(RuleCount(), 2);
  EXPECT_TRUE(DeleteNotificationRule(*db, "alice", Form({{"chkEMailRule", demoId}})));
  EXPECT_EQ(RuleCount(), 1);
}

class TemplatesTest : public MailSite {
 protected:
  long long Count(const std::string& table, const std::string& where) {
    return raw.Int("select count(*) from " + table + " where " + where);
  }
  std::string Part(const std::string& templ, const std::string& part) {
    return raw.Text("select PartContent from EMailTemplateParts where TemplateName = '" + templ +
                    "' and PartName = '" + part + "'");
  }
  void Notify(const std::string& templ, const std::string& status) {
    raw.Exec("insert into EMailNotifications (EMailAddress, IssueId, TemplateName, StatusCode) values ('x@example.com', 1, '" +
             templ + "', '" + status + "')");
  }
};

TEST_F(TemplatesTest, CreateChecksNameAndSubject) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"TemplateName", "  "}, {"Subject", "s"}}, "Template name cannot be blank."},
      {{{"TemplateName", std::string(51, 't')}, {"Subject", "s"}}, "Template name cannot be longer than 50 characters."},
      {{{"TemplateName", "Closed"}, {"Subject", ""}}, "Subject cannot be blank."},
      {{{"TemplateName", "Closed"}, {"Subject", std::string(257, 's')}}, "Subject cannot be longer than 256 characters."},
      {{{"TemplateName", "Closed"}, {"Subject", "Closed\r\nBcc: b@example.com"}}, "Subject cannot contain a line break."},
  };
  for (const auto& [fields, message] : cases) {
    EXPECT_FALSE(CreateEMailTemplate(*db, "admin", Form(fields)));
    EXPECT_EQ(db->LastErrorMessage(), message);
  }
  EXPECT_EQ(Count("EMailTemplates", "1"), 1);
}

TEST_F(TemplatesTest, CreateStoresTheTemplateWithItsPostedParts) {
  ASSERT_TRUE(CreateEMailTemplate(*db, "admin",
                                  Form({{"TemplateName", " Closed "}, {"Subject", " Issue [IssueId] closed "},
                                        {"PartType", "Text"}, {"PartContent", "  closed  "},
                                        {"PartType", "HTML"}, {"PartContent", "<p>closed</p>"}})))
      << db->LastErrorMessage();
  EXPECT_EQ(raw.Text("select TemplateTypeName || '|' || Subject from EMailTemplates where TemplateName = 'Closed'"),
            "HTML|Issue [IssueId] closed");
  EXPECT_EQ(Part("Closed", "Text"), "  closed  ");
  EXPECT_EQ(Part("Closed", "HTML"), "<p>closed</p>");
  // A single part gives exactly one part row.
  ASSERT_TRUE(CreateEMailTemplate(*db, "admin",
                                  Form({{"TemplateName", "Short"}, {"Subject", "s"}, {"PartType", "Text"},
                                        {"PartContent", "only text"}})));
  EXPECT_EQ(Count("EMailTemplateParts", "TemplateName = 'Short'"), 1);
}

TEST_F(TemplatesTest, CreateRefusalsRollEverythingBack) {
  EXPECT_FALSE(CreateEMailTemplate(*db, "admin", Form({{"TemplateName", "assignment NOTICE"}, {"Subject", "s"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The template 'assignment NOTICE' already exists.");

  EXPECT_FALSE(CreateEMailTemplate(*db, "admin",
                                   Form({{"TemplateName", "Twice"}, {"Subject", "s"}, {"PartType", "Text"},
                                         {"PartContent", "a"}, {"PartType", "Text"}, {"PartContent", "b"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The part 'Text' was posted more than once.");

  EXPECT_FALSE(CreateEMailTemplate(*db, "admin",
                                   Form({{"TemplateName", "Odd"}, {"Subject", "s"}, {"PartType", "Bogus"},
                                         {"PartContent", "a"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The message format of the template has no part named 'Bogus'.");

  // A content without its part name is the page's fault: raised, nothing written.
  EXPECT_THROW(CreateEMailTemplate(*db, "admin",
                                   Form({{"TemplateName", "Short"}, {"Subject", "s"}, {"PartType", "Text"},
                                         {"PartContent", "a"}, {"PartContent", "b"}})),
               automation::ComError);
  EXPECT_EQ(Count("EMailTemplates", "1"), 1);
  EXPECT_EQ(Count("EMailTemplateParts", "1"), 2);
  EXPECT_FALSE(db->Connection().InTransaction());
}

TEST_F(TemplatesTest, UpdateChangesSubjectAndPartsAndAddsAMissingPart) {
  ASSERT_TRUE(CreateEMailTemplate(*db, "admin",
                                  Form({{"TemplateName", "Short"}, {"Subject", "s"}, {"PartType", "Text"},
                                        {"PartContent", "old"}})));
  EXPECT_FALSE(UpdateEMailTemplate(*db, "admin", GetEMailTemplateRs(*db, "Short"), Form({{"Subject", " "}})));
  EXPECT_EQ(db->LastErrorMessage(), "Subject name cannot be blank.");
  EXPECT_FALSE(UpdateEMailTemplate(*db, "admin", GetEMailTemplateRs(*db, "Short"),
                                   Form({{"Subject", std::string(257, 's')}})));
  EXPECT_EQ(db->LastErrorMessage(), "Subject cannot be longer than 256 characters.");

  ASSERT_TRUE(UpdateEMailTemplate(*db, "admin", GetEMailTemplateRs(*db, "Short"),
                                  Form({{"Subject", " New subject "}, {"PartType", "Text"}, {"PartContent", "new"},
                                        {"PartType", "HTML"}, {"PartContent", "<b>new</b>"}})))
      << db->LastErrorMessage();
  EXPECT_EQ(raw.Text("select Subject from EMailTemplates where TemplateName = 'Short'"), "New subject");
  EXPECT_EQ(Part("Short", "Text"), "new");
  // The template had no HTML part: the posted one is added, not dropped.
  EXPECT_EQ(Part("Short", "HTML"), "<b>new</b>");
}

TEST_F(TemplatesTest, UpdateNeverIgnoresAPostedPart) {
  auto rs = GetEMailTemplateRs(*db, "Assignment Notice");
  const std::string before = Part("Assignment Notice", "Text");
  EXPECT_FALSE(UpdateEMailTemplate(*db, "admin", rs,
                                   Form({{"Subject", "changed"}, {"PartType", "Text"}, {"PartContent", "changed"},
                                         {"PartType", "Bogus"}, {"PartContent", "x"}})));
  EXPECT_EQ(db->LastErrorMessage(), "The message format of the template has no part named 'Bogus'.");
  EXPECT_EQ(Part("Assignment Notice", "Text"), before);
  EXPECT_EQ(raw.Text("select Subject from EMailTemplates where TemplateName = 'Assignment Notice'"),
            "You've been assigned issue [IssueId].");
}

TEST_F(TemplatesTest, UpdateOfATemplateChangedOrDeletedMeanwhileIsRefused) {
  auto rs = GetEMailTemplateRs(*db, "Assignment Notice");
  raw.Exec("update EMailTemplates set Subject = 'Elsewhere' where TemplateName = 'Assignment Notice'");
  const std::string before = Part("Assignment Notice", "Text");
  EXPECT_FALSE(UpdateEMailTemplate(*db, "admin", rs,
                                   Form({{"Subject", "Mine"}, {"PartType", "Text"}, {"PartContent", "mine"}})));
  EXPECT_EQ(db->LastErrorMessage(), kConflict);
  EXPECT_EQ(Part("Assignment Notice", "Text"), before);  // the part change is undone with it

  ASSERT_TRUE(CreateEMailTemplate(*db, "admin", Form({{"TemplateName", "Gone"}, {"Subject", "s"}})));
  auto gone = GetEMailTemplateRs(*db, "Gone");
  ASSERT_TRUE(DeleteEMailTemplate(*db, "admin", Form({{"chkEMailTemplate", "Gone"}})));
  EXPECT_FALSE(UpdateEMailTemplate(*db, "admin", gone,
                                   Form({{"Subject", "s"}, {"PartType", "Text"}, {"PartContent", "t"}})));
  EXPECT_EQ(db->LastErrorMessage(), kConflict);
  EXPECT_EQ(Count("EMailTemplateParts", "TemplateName = 'Gone'"), 0);
}

TEST_F(TemplatesTest, DeleteRemovesTemplatePartsAndFinishedNotifications) {
  ASSERT_TRUE(CreateEMailTemplate(*db, "admin",
                                  Form({{"TemplateName", "My Template"}, {"Subject", "s"}, {"PartType", "Text"},
                                        {"PartContent", "t"}})));
  Notify("My Template", "Sent");
  Notify("My Template", "Failed");
  Notify("Assignment Notice", "Sent");
  ASSERT_TRUE(DeleteEMailTemplate(*db, "admin", Form({{"chkEMailTemplate", "My+Template"}})))
      << db->LastErrorMessage();
  EXPECT_EQ(Count("EMailTemplates", "TemplateName = 'My Template'"), 0);
  EXPECT_EQ(Count("EMailTemplateParts", "TemplateName = 'My Template'"), 0);
  EXPECT_EQ(Count("EMailNotifications", "TemplateName = 'My Template'"), 0);
  EXPECT_EQ(Count("EMailNotifications", "TemplateName = 'Assignment Notice'"), 1);
  // Nothing checked: nothing to do.
  EXPECT_TRUE(DeleteEMailTemplate(*db, "admin", Form({})));
}

TEST_F(TemplatesTest, ATemplateInUseIsKeptWithEveryOtherOfTheRequest) {
  ASSERT_TRUE(CreateEMailTemplate(*db, "admin", Form({{"TemplateName", "Unused"}, {"Subject", "s"}})));
  // The second checked template is used by the site's rule.
  EXPECT_FALSE(DeleteEMailTemplate(*db, "admin",
                                   Form({{"chkEMailTemplate", "Unused"}, {"chkEMailTemplate", "Assignment%20Notice"}})));
  EXPECT_EQ(db->LastErrorMessage(),
            "At least one notification rule or pending notification uses the 'Assignment Notice' template. The "
            "template could not be deleted.");
  EXPECT_EQ(Count("EMailTemplates", "1"), 2);
  EXPECT_EQ(Count("EMailTemplateParts", "TemplateName = 'Assignment Notice'"), 2);

  // A pending notification holds a template too.
  Notify("Unused", "Pending");
  Notify("Unused", "Sent");
  EXPECT_FALSE(DeleteEMailTemplate(*db, "admin", Form({{"chkEMailTemplate", "Unused"}})));
  EXPECT_EQ(db->LastErrorMessage(),
            "At least one notification rule or pending notification uses the 'Unused' template. The template could "
            "not be deleted.");
  EXPECT_EQ(Count("EMailNotifications", "TemplateName = 'Unused'"), 2);
}

TEST_F(TemplatesTest, OnlySiteAdministratorsWriteTemplates) {
  for (const std::string user : {"alice", "bob", ""}) {
    EXPECT_FALSE(CreateEMailTemplate(*db, user, Form({{"TemplateName", "T"}, {"Subject", "s"}})));
    EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
    EXPECT_FALSE(UpdateEMailTemplate(*db, user, GetEMailTemplateRs(*db, "Assignment Notice"), Form({{"Subject", "x"}})));
    EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
    Notify("Assignment Notice", "Sent");
    raw.Exec("delete from EMailNotificationRules");
    EXPECT_FALSE(DeleteEMailTemplate(*db, user, Form({{"chkEMailTemplate", "Assignment Notice"}})));
    EXPECT_EQ(db->LastErrorMessage(), "Permission denied.");
  }
  EXPECT_EQ(Count("EMailTemplates", "1"), 1);
  EXPECT_EQ(raw.Text("select Subject from EMailTemplates"), "You've been assigned issue [IssueId].");
  EXPECT_EQ(Count("EMailNotifications", "1"), 3);
}

TEST_F(TemplatesTest, WritersAreCallableByName) {
  Variant form(std::static_pointer_cast<automation::Object>(
      Form({{"TemplateName", "By name"}, {"Subject", "s"}, {"PartType", "Text"}, {"PartContent", "t"}})));
  EXPECT_TRUE(db->Call("CreateEMailTemplate", {Variant("admin"), form}).ToBool());
  auto rs = db->Call("GetEMailTemplateRs", {Variant("By name")}).ToObject();
  Variant update(std::static_pointer_cast<automation::Object>(Form({{"Subject", "renamed"}})));
  EXPECT_TRUE(db->Call("UpdateEMailTemplate", {Variant("admin"), Variant(rs), update}).ToBool());
  EXPECT_EQ(raw.Text("select Subject from EMailTemplates where TemplateName = 'By name'"), "renamed");
}

}  // namespace
}  // namespace brisquel::mailtest

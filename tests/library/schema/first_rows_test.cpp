// The first rows of a new site: present, and consistent with each other and with the schema.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/password.h"
#include "schema/site_database.h"
#include "support/site_db.h"

using sitedb::Db;
using sitedb::FreshSite;

namespace {

std::set<std::string> ColumnSet(Db& db, const std::string& table) {
  auto cols = db.Rows("SELECT name FROM pragma_table_info('" + table + "')");
  return {cols.begin(), cols.end()};
}

TEST(FirstRowsTest, WorkflowStatesUseExistingCodes) {
  Db db(FreshSite(false));
  EXPECT_EQ(db.Rows("SELECT WorkflowId, SiteDefault, Version FROM Workflows"),
            std::vector<std::string>{"1|1|1"});
  EXPECT_GE(db.Int("SELECT count(*) FROM WorkflowStates WHERE WorkflowId = 1"), 4);
  EXPECT_EQ(db.Rows("SELECT StateName FROM WorkflowStates WHERE ResolutionCode NOT IN "
                    "(SELECT ResolutionCode FROM Resolutions) OR StatusCode NOT IN "
                    "(SELECT StatusCode FROM StatusCodes)"),
            std::vector<std::string>{});
  // "Open" and "Closed" exist and fit the six characters the issue statements bind.
  EXPECT_EQ(db.Int("SELECT count(*) FROM StatusCodes WHERE StatusCode IN ('Open', 'Closed') "
                   "COLLATE BINARY"),
            2);
  EXPECT_EQ(db.Int("SELECT count(*) FROM WorkflowStates WHERE length(StatusCode) > 6"), 0);
  // States for new, fixed and closed issues.
  EXPECT_EQ(db.Int("SELECT count(*) FROM WorkflowStates WHERE StateType = 0 AND StatusCode = 'Open' "
                   "AND IssueFixed = 0"),
            1);
  EXPECT_GE(db.Int("SELECT count(*) FROM WorkflowStates WHERE IssueFixed = 1"), 1);
  EXPECT_GE(db.Int("SELECT count(*) FROM WorkflowStates WHERE StatusCode = 'Closed'"), 1);
  // One pair per state, and one issue-create state, whose pair no other state has.
  EXPECT_EQ(db.Int("SELECT count(*) FROM (SELECT ResolutionCode, StatusCode FROM WorkflowStates "
                   "GROUP BY ResolutionCode, StatusCode HAVING count(*) > 1)"),
            0);
  EXPECT_EQ(db.Int("SELECT count(*) FROM WorkflowStates WHERE StateType = 1"), 1);
  // Ordinary states are named after their codes.
  EXPECT_EQ(db.Rows("SELECT StateName FROM WorkflowStates WHERE StateType = 0 AND StateName <> "
                    "ResolutionCode || CASE StatusCode WHEN 'Open' THEN '' ELSE ' - Closed' END"),
            std::vector<std::string>{});
  // Diagram boxes in twips, as the editor's canvas keeps them: 120 x 50 pixels is 1800 x 750.
  EXPECT_EQ(db.Rows("SELECT DiagramLeft, DiagramTop, DiagramWidth, DiagramHeight FROM WorkflowStates WHERE StateId = 2"),
            std::vector<std::string>{"3750.0|1950.0|1800.0|750.0"});
}

TEST(FirstRowsTest, WorkflowActionsJoinStatesOfTheWorkflow) {
  Db db(FreshSite(false));
  EXPECT_EQ(db.Rows("SELECT ActionId FROM WorkflowActions a WHERE NOT EXISTS (SELECT 1 FROM "
                    "WorkflowStates f WHERE f.StateId = a.FromStateId AND f.WorkflowId = a.WorkflowId) "
                    "OR NOT EXISTS (SELECT 1 FROM WorkflowStates t WHERE t.StateId = a.ToStateId AND "
                    "t.WorkflowId = a.WorkflowId)"),
            std::vector<std::string>{});
  // New issues can start somewhere; actions out of the issue-create state assign to a group.
  EXPECT_GE(db.Int("SELECT count(*) FROM WorkflowActions a JOIN WorkflowStates s ON s.StateId = "
                   "a.FromStateId WHERE s.StateType = 1"),
            1);
  EXPECT_EQ(db.Int("SELECT count(*) FROM WorkflowActions a JOIN WorkflowStates s ON s.StateId = "
                   "a.FromStateId WHERE s.StateType = 1 AND a.ActionType <> 2"),
            0);
  EXPECT_EQ(db.Int("SELECT count(*) FROM WorkflowActions a JOIN WorkflowStates s ON s.StateId = "
                   "a.ToStateId WHERE s.StateType = 1"),
            0);
  // Every state but the issue-create one can be reached, and every closed state can be reopened.
  EXPECT_EQ(db.Rows("SELECT StateName FROM WorkflowStates s WHERE StateType = 0 AND NOT EXISTS "
                    "(SELECT 1 FROM WorkflowActions WHERE ToStateId = s.StateId AND FromStateId <> "
                    "s.StateId)"),
            std::vector<std::string>{});
  EXPECT_EQ(db.Rows("SELECT StateName FROM WorkflowStates s WHERE StatusCode = 'Closed' AND NOT EXISTS "
                    "(SELECT 1 FROM WorkflowActions a JOIN WorkflowStates t ON t.StateId = a.ToStateId "
                    "WHERE a.FromStateId = s.StateId AND t.StatusCode = 'Open')"),
            std::vector<std::string>{});
  // Type 2 actions have someone to go to; automatic ones name an assignment group.
  EXPECT_EQ(db.Rows("SELECT ActionId FROM WorkflowActions a WHERE ActionType = 2 AND NOT EXISTS "
                    "(SELECT 1 FROM WorkflowActionAssignments WHERE ActionId = a.ActionId)"),
            std::vector<std::string>{});
  EXPECT_EQ(db.Rows("SELECT ActionId FROM WorkflowActions a WHERE AllowAutomatic = 1 AND NOT EXISTS "
                    "(SELECT 1 FROM WorkflowActionAssignments WHERE ActionId = a.ActionId AND "
                    "GroupCode = a.GroupCode)"),
            std::vector<std::string>{});
  // Groups named anywhere exist.
  EXPECT_EQ(db.Rows("SELECT GroupCode FROM WorkflowActionAssignments UNION SELECT GroupCode FROM "
                    "WorkflowStateGroups UNION SELECT GroupCode FROM WorkflowActions WHERE GroupCode <> '' "
                    "EXCEPT SELECT GroupCode FROM Groups"),
            std::vector<std::string>{});
  EXPECT_GE(db.Int("SELECT count(*) FROM WorkflowStateGroups g JOIN WorkflowStates s ON s.StateId = "
                   "g.StateId WHERE s.StateType = 1"),
            1);
  // Required fields are fields of the entry form that a state may require.
  EXPECT_EQ(db.Rows("SELECT FieldName FROM WorkflowStateValidations EXCEPT SELECT FieldName FROM "
                    "IssueFields WHERE DataEntryField = 1 AND Representation <> 'checkbox' AND "
                    "FieldName <> 'ProjectCode'"),
            std::vector<std::string>{});
}

TEST(FirstRowsTest, EveryIssueFieldHasItsColumnAndList) {
  Db db(FreshSite(false));
  auto issueColumns = ColumnSet(db, "Issues");
  for (const char* field : {"ProjectCode", "Summary", "AssignedToUser", "ResolutionCode",
                            "StatusCode", "CreatedByUserId", "PriorityCode", "SeverityCode",
                            "ModuleCode", "DetectedInBuildCode", "VerifiedInBuildCode"}) {
    EXPECT_EQ(db.Int(std::string("SELECT count(*) FROM IssueFields WHERE FieldName = '") + field +
                     "' COLLATE BINARY"),
              1)
        << field;
  }
  for (const auto& row : db.Rows("SELECT FieldName, Representation, TableName, FilterFqFieldName, "
                                 "FilterFieldName FROM IssueFields WHERE FieldName <> ''")) {
    SCOPED_TRACE(row);
    std::string name = row.substr(0, row.find('|'));
    std::string rest = row.substr(row.find('|') + 1);
    std::string representation = rest.substr(0, rest.find('|'));
    rest = rest.substr(rest.find('|') + 1);
    std::string table = rest.substr(0, rest.find('|'));
    rest = rest.substr(rest.find('|') + 1);
    std::string fq = rest.substr(0, rest.find('|'));
    EXPECT_EQ(rest.substr(rest.find('|') + 1), name);  // FilterFieldName
    if (representation == "comments") {
      EXPECT_FALSE(issueColumns.count(name));
      EXPECT_EQ(fq, "Issues." + name);
      continue;
    }
    std::string column = name == "ProjectCode" ? "ProjectId" : name;
    EXPECT_TRUE(issueColumns.count(column)) << column;
    EXPECT_EQ(fq, name == "ProjectCode" ? "Projects.ProjectCode" : "Issues." + name);
    if (representation == "combo") {
      // The list is a catalogued code table with the columns its entry promises.
      auto entry = db.Rows("SELECT TableFieldName, VariesByProject, NaturalSort, TableSortByFieldName "
                           "FROM IssueCodeTables WHERE TableName = '" + table + "' COLLATE BINARY");
      ASSERT_EQ(entry.size(), 1u) << table;
      auto cols = ColumnSet(db, table);
      std::string valueColumn = entry[0].substr(0, entry[0].find('|'));
      EXPECT_TRUE(cols.count(valueColumn));
      bool varies = entry[0].find("|1|") == valueColumn.size();
      if (table != "Projects") {
        EXPECT_EQ(cols.count("ProjectId") == 1, varies);
      }
    }
  }
  // Only the fields the entry form may hold are offered for it; the form never holds the columns
  // the issue writers set themselves, and keeps the project.
  EXPECT_EQ(db.Rows("SELECT FieldName FROM IssueFields WHERE DataEntryField = 1 AND FieldName IN "
                    "('ResolutionCode', 'StatusCode', 'AssignedToUser', 'CreatedByUserId', 'IssueId', '')"),
            std::vector<std::string>{});
  EXPECT_EQ(db.Rows("SELECT FieldName FROM DataEntryLayoutFields WHERE LayoutId = 1 AND FieldName NOT IN "
                    "(SELECT FieldName FROM IssueFields WHERE DataEntryField = 1 OR FieldName = '')"),
            std::vector<std::string>{});
  EXPECT_EQ(db.Int("SELECT count(*) FROM DataEntryLayoutFields WHERE LayoutId = 1 AND FieldName = "
                   "'ProjectCode'"),
            1);
  EXPECT_EQ(db.Int("SELECT NumRows FROM DataEntryLayouts WHERE LayoutId = 1"),
            db.Int("SELECT count(DISTINCT RowNumber) FROM DataEntryLayoutFields WHERE LayoutId = 1"));
  EXPECT_LE(db.Int("SELECT max(c) FROM (SELECT count(*) AS c FROM DataEntryLayoutFields GROUP BY RowNumber)"), 5);
  // The empty-cell entry yields no column and no check in the issue writers.
  EXPECT_EQ(db.Rows("SELECT Representation, DataEntryField FROM IssueFields WHERE FieldName = ''"),
            std::vector<std::string>{"|0"});
  // The row budget, computed as the field writers compute it.
  long long length = db.Int(
      "select sum(case Representation when 'text' then TextMaxLength when 'multiline' then "
      "TextMaxLength when 'combo' then 50 when 'checkbox' then 1 when 'comments' then 0 end) as "
      "RecordLength from IssueFields");
  EXPECT_GT(length, 0);
  EXPECT_LE(length, 7000);
}

TEST(FirstRowsTest, CodeTablesAreCataloguedAndHoldTheBlankValue) {
  Db db(FreshSite(false));
  for (const char* table : {"ProjectUsers", "ProjectBuilds", "Resolutions", "StatusCodes"}) {
    EXPECT_EQ(db.Int(std::string("SELECT count(*) FROM IssueCodeTables WHERE TableName = '") + table +
                     "' COLLATE BINARY"),
              1)
        << table;
  }
  for (const auto& row : db.Rows("SELECT TableName, TableFieldName, VariesByProject, NaturalSort, "
                                 "TableSortByFieldName, TableDefaultSortOrder FROM IssueCodeTables")) {
    SCOPED_TRACE(row);
    std::vector<std::string> f;
    size_t p = 0;
    for (size_t bar; (bar = row.find('|', p)) != std::string::npos; p = bar + 1) f.push_back(row.substr(p, bar - p));
    f.push_back(row.substr(p));
    auto cols = ColumnSet(db, f[0]);
    EXPECT_TRUE(cols.count(f[1]));
    EXPECT_TRUE(f[5] == "ASC" || f[5] == "DESC");
    // The project and member lists are tables of their own, sorted by name.
    if (f[0] == "Projects" || f[0] == "ProjectUsers") {
      EXPECT_EQ(f[4], f[0] + "." + f[1]);
      continue;
    }
    EXPECT_EQ(cols.count("ProjectId") == 1, f[2] == "1");
    EXPECT_EQ(f[4], f[0] + "." + (f[3] == "1" ? f[1] : std::string("SortOrder")));
    EXPECT_EQ(cols.count("SortOrder") == 1, f[3] == "0");
    EXPECT_TRUE(cols.count("LastUpdated"));
    if (f[2] == "0") {
      EXPECT_EQ(db.Int("SELECT count(*) FROM \"" + f[0] + "\" WHERE \"" + f[1] + "\" = ''"), 1);
    }
  }
  EXPECT_EQ(db.Rows("SELECT ResolutionCode FROM Resolutions WHERE ResolutionCode <> '' ORDER BY SortOrder"),
            (std::vector<std::string>{"New", "Fixed", "Will not fix", "Duplicate", "Not reproducible"}));
}

TEST(FirstRowsTest, EMailRowsAreThoseOfTheVersionStep) {
  Db db(FreshSite(false));
  EXPECT_EQ(db.Rows("SELECT EMailConfigurationId, EMailEnabled, SmtpHost, SmtpPort, SendTimeout, "
                    "FromEMailAddress, ServerLoginRequired, SmtpUserId, SmtpPassword, "
                    "MaximumDeliveryAttempts, DeliveryFrequency, WebSiteURL FROM EMailConfiguration"),
            std::vector<std::string>{"1|0||25|30||1|||3|10|"});
  EXPECT_EQ(db.Rows("SELECT Frequency || ' ' || FrequencyName FROM EMailDeliveryFrequency ORDER BY Frequency"),
            (std::vector<std::string>{"1 Every minute", "5 Every 5 minutes", "10 Every 10 minutes",
                                      "15 Every 15 minutes", "30 Every 30 minutes", "60 Every 60 minutes"}));
  EXPECT_EQ(db.Rows("SELECT ContentTransferEncoding FROM EMailContentTransferEncodings ORDER BY rowid"),
            (std::vector<std::string>{"7bit", "8bit", "base64", "quoted-printable", "binary"}));
  EXPECT_EQ(db.Text("SELECT EncodingDescription FROM EMailContentTransferEncodings WHERE "
                    "ContentTransferEncoding = 'binary'"),
            "Binary encoding is simply unencoded binary data. It has no line-length limitations. "
            "Binary encoded messages are not valid Internet messages.\r\n\r\n");
  EXPECT_LE(db.Int("SELECT max(length(EncodingDescription)) FROM EMailContentTransferEncodings"), 1024);
  EXPECT_EQ(db.Rows("SELECT NotificationEventType || ' ' || NotificationEventTypeName FROM "
                    "EMailNotificationEventTypes ORDER BY 1"),
            (std::vector<std::string>{"1 Issue created", "2 Issue assigned to user", "3 Issue updated",
                                      "4 Workflow transition"}));
  EXPECT_EQ(db.Rows("SELECT RecipientTypeName FROM EMailRecipientTypes ORDER BY RecipientType"),
            (std::vector<std::string>{"Assignee", "Creator", "Previous assignee", "Issue field",
                                      "Specific address"}));
  EXPECT_EQ(db.Rows("SELECT * FROM EMailTemplateTypes"),
            std::vector<std::string>{"HTML|1|multipart|alternative||" +
                                     db.Text("SELECT LastUpdated FROM EMailTemplateTypes")});
  EXPECT_EQ(db.Rows("SELECT HeaderFieldName || '=' || HeaderFieldValue FROM EMailTemplateTypeHeaders "
                    "ORDER BY rowid"),
            (std::vector<std::string>{"X-Vantrel-IssueId=[IssueId]", "X-Vantrel-ProjectCode=[ProjectCode]",
                                      "Reply-to=", "X-Mailer=Vantrel V1.1.0"}));
  EXPECT_EQ(db.Rows("SELECT PartName, PartOrder, ContentType, ContentTypeSubtype, ContentTypeCharset, "
                    "ContentTypeAdditionalParameters, ContentTransferEncoding FROM EMailTemplateTypeParts "
                    "ORDER BY PartOrder"),
            (std::vector<std::string>{"Text|1|text|plain|us-ascii||7bit", "HTML|2|text|html|us-ascii||7bit"}));
  EXPECT_EQ(db.Text("SELECT Subject FROM EMailTemplates WHERE TemplateName = 'Assignment Notice'"),
            "You've been assigned issue [IssueId].");
  EXPECT_EQ(db.Text("SELECT PartContent FROM EMailTemplateParts WHERE PartName = 'Text'"),
            "The following issue has been assigned to you:\r\n[IssueUrl]\r\n\r\n--\r\nDo not reply to this email.");
  EXPECT_EQ(db.Text("SELECT PartContent FROM EMailTemplateParts WHERE PartName = 'HTML'"),
            "<body><p>The following issue has been assigned to you: <a href='[IssueUrl]'>[IssueId]</a><p>\r\n"
            "<p>--<br>Do not reply to this email.</p></body>");
  EXPECT_EQ(db.Rows("SELECT NotificationRuleId, ProjectId, NotificationRuleName, Active, NotificationEventType, "
                    "WorkflowId, ActionId, RecipientType, RecipientAddress, TemplateName FROM EMailNotificationRules"),
            std::vector<std::string>{"13|-1|Issue assigned to user|1|2|1|0|1||Assignment Notice"});
  // The next rule continues after the seeded identity.
  db.Exec("INSERT INTO EMailNotificationRules (NotificationRuleName, NotificationEventType, WorkflowId, "
          "RecipientType, TemplateName) VALUES ('Another', 1, 1, 2, 'Assignment Notice')");
  EXPECT_EQ(db.Int("SELECT max(NotificationRuleId) FROM EMailNotificationRules"), 14);
  // Queue rows compare with the status texts the sender writes.
  db.Exec("INSERT INTO Projects (ProjectId, ProjectCode) VALUES (1, 'P'); "
          "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (1, '', 1); "
          "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (1, ''); "
          "INSERT INTO Issues (ProjectId, ResolutionCode, StatusCode) VALUES (1, 'New', 'Open'); "
          "INSERT INTO EMailNotifications (EMailAddress, IssueId, TemplateName) VALUES ('a@b.c', 1, 'Assignment Notice'); "
          "UPDATE EMailNotifications SET StatusCode = 'Sent'");
  EXPECT_EQ(db.Int("SELECT count(*) FROM EMailNotifications WHERE StatusCode = 'Sent'"), 1);
}

TEST(FirstRowsTest, SiteRecordBackupsSecretAndAdministrator) {
  Db db(FreshSite(false));
  EXPECT_EQ(db.Int("SELECT count(*) FROM VantrelSite"), 1);
  EXPECT_EQ(db.Int("SELECT CAST(round(DatabaseVersion * 100) AS INTEGER) FROM VantrelSite"), 111);
  EXPECT_EQ(db.Int("SELECT count(*) FROM VantrelSite WHERE LastUpdated GLOB "
                   "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9].[0-9][0-9][0-9]'"),
            1);
  EXPECT_EQ(db.Rows("SELECT BackupDatabase, BackupFrequency, BackupTime, ExpireBackups, BackupRetention "
                    "FROM SiteBackups"),
            std::vector<std::string>{"0|Day|02:00|0|2 Weeks"});
  EXPECT_EQ(db.Int("SELECT count(*) FROM SiteBackupFrequencyCodes"), 7);
  EXPECT_EQ(db.Int("SELECT count(*) FROM SiteBackupTimes"), 25);
  EXPECT_EQ(db.Int("SELECT count(*) FROM SiteBackupRetentionCodes"), 8);
  EXPECT_EQ(db.Int("SELECT count(*) FROM SiteBackups s WHERE BackupFrequency IN (SELECT BackupFrequency FROM "
                   "SiteBackupFrequencyCodes) AND BackupTime IN (SELECT BackupTime FROM SiteBackupTimes) AND "
                   "BackupRetention IN (SELECT BackupRetention FROM SiteBackupRetentionCodes)"),
            1);
  EXPECT_EQ(db.Rows("SELECT BackupTime FROM SiteBackupTimes ORDER BY BackupTime LIMIT 1 OFFSET 24"),
            std::vector<std::string>{"24:00"});
  // The per-site secret: 32 random bytes.
  EXPECT_EQ(db.Rows("SELECT typeof(Value), length(Value) FROM VantrelSecrets WHERE Name = 'RecordsetImage'"),
            std::vector<std::string>{"blob|32"});
  // The administrator: hashed password, default layout, default filter.
  EXPECT_EQ(db.Rows("SELECT UserId, SiteAdministrator, PublicUser, EMailEnabled, DefaultFilter, DefaultLayout "
                    "FROM Users"),
            std::vector<std::string>{"admin|1|0|1|s:admin|Default"});
  std::string stored = db.Text("SELECT Password FROM Users WHERE UserId = 'admin'");
  EXPECT_NE(stored, "Secret1");
  EXPECT_TRUE(brisquel::VerifySecret(stored, "Secret1"));
  EXPECT_FALSE(brisquel::VerifySecret(stored, "secret1"));
  EXPECT_EQ(db.Rows("SELECT NumRows FROM SummaryLayouts WHERE UserId = 'admin' AND LayoutName = 'Default'"),
            std::vector<std::string>{"2"});
  EXPECT_EQ(db.Rows("SELECT RowNumber || ':' || DisplayOrder || ':' || FieldName FROM SummaryLayoutFields "
                    "WHERE UserId = 'admin' ORDER BY RowNumber, DisplayOrder"),
            (std::vector<std::string>{"1:1:IssueId", "1:2:PriorityCode", "1:3:SeverityCode", "1:4:ProjectCode",
                                      "1:5:ModuleCode", "1:6:ResolutionCode", "1:7:AssignedToUser",
                                      "1:8:StatusCode", "2:1:Summary"}));
  // Without the demo there is nothing else.
  EXPECT_EQ(db.Int("SELECT count(*) FROM Projects"), 0);
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues"), 0);
}

TEST(FirstRowsTest, AProjectAndIssueWrittenAsTheWritersDoIt) {
  Db db(FreshSite(false));
  // What the project writer inserts, then the issue writer with only the fixed columns given.
  db.Exec("INSERT INTO Projects (ProjectCode, PublicAccessible, PublicMembersOfGroupCode, ProjectDescription, "
          "EMailEnabled) VALUES ('Web', 0, '', 'The web site', 1)");
  long long project = db.Int("SELECT last_insert_rowid()");
  db.Exec("INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (" + std::to_string(project) +
          ", '', 1); INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (" + std::to_string(project) +
          ", '')");
  db.Exec("INSERT INTO Issues (ProjectId, Summary, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
          "DateOpened, Valid, Fixed, DateLastUpdated) VALUES (" + std::to_string(project) +
          ", 'Broken link', 'admin', 'New', 'Open', 'admin', '2024-05-01 00:00:00.000', 1, 0, "
          "'2024-05-01 00:00:00.000')");
  long long issue = db.Int("SELECT last_insert_rowid()");
  EXPECT_EQ(issue, 1);
  EXPECT_EQ(db.Rows("SELECT PriorityCode, SeverityCode, ModuleCode, DetectedInBuildCode, VerifiedInBuildCode, "
                    "DateClosed IS NULL FROM Issues"),
            std::vector<std::string>{"|||||1"});
  db.Exec("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, NewAssignedToUser, "
          "NewStatusCode) VALUES (1, " + std::to_string(project) + ", 'admin', 'New', 'admin', 'Open')");
  EXPECT_EQ(db.Rows("SELECT OldResolutionCode, OldStatusCode, OldAssignedToUser FROM IssueHistory"),
            std::vector<std::string>{"||"});
  EXPECT_EQ(db.Int("SELECT count(*) FROM IssueHistory WHERE CreatedOn GLOB "
                   "'[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9].[0-9][0-9][0-9]'"),
            1);
  // The project writer's duplicate code and the default flags of a membership row.
  EXPECT_EQ(db.Run("INSERT INTO Projects (ProjectCode) VALUES ('WEB')").rc, SQLITE_CONSTRAINT_UNIQUE);
  db.Exec("INSERT INTO ProjectUsers (ProjectId, UserId) VALUES (" + std::to_string(project) + ", 'admin')");
  EXPECT_EQ(db.Rows("SELECT ProjectAdministrator, OverrideWorkflow FROM ProjectUsers"),
            std::vector<std::string>{"0|0"});
  // The user writer's public user: flags and e-mail default.
  db.Exec("INSERT INTO Users (UserId, UserName, UserEMail, SiteAdministrator, PublicUser, Password, DefaultFilter, "
          "SecretQuestion, SecretQuestionAnswer) VALUES ('pat', 'Pat', '', 0, 1, '', 's:pat', 'q', 'a')");
  EXPECT_EQ(db.Rows("SELECT EMailEnabled, DefaultProject, MyAssignmentNumIssues, DefaultLayout FROM Users "
                    "WHERE UserId = 'pat'"),
            std::vector<std::string>{"1|-1|20|Default"});
}

TEST(FirstRowsTest, DemoIssuesFollowTheWorkflow) {
  Db db(FreshSite(true));
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues"), 6);
  // Every issue is in a state of the workflow with that state's flags.
  EXPECT_EQ(db.Rows("SELECT IssueId FROM Issues i WHERE NOT EXISTS (SELECT 1 FROM WorkflowStates s WHERE "
                    "s.WorkflowId = 1 AND s.StateType = 0 AND s.ResolutionCode = i.ResolutionCode AND "
                    "s.StatusCode = i.StatusCode AND s.IssueValid = i.Valid AND s.IssueFixed = i.Fixed)"),
            std::vector<std::string>{});
  // The newest history row of each issue is its present state and assignee; creation rows carry ''.
  EXPECT_EQ(db.Rows("SELECT i.IssueId FROM Issues i JOIN IssueHistory h ON h.HistoryId = (SELECT HistoryId "
                    "FROM IssueHistory WHERE IssueId = i.IssueId ORDER BY CreatedOn DESC, HistoryId DESC LIMIT 1) "
                    "WHERE h.NewResolutionCode <> i.ResolutionCode OR h.NewStatusCode <> i.StatusCode OR "
                    "h.NewAssignedToUser <> i.AssignedToUser"),
            std::vector<std::string>{});
  EXPECT_EQ(db.Int("SELECT count(*) FROM IssueHistory h WHERE HistoryId = (SELECT min(HistoryId) FROM "
                   "IssueHistory WHERE IssueId = h.IssueId) AND (OldResolutionCode <> '' OR OldStatusCode <> '' "
                   "OR OldAssignedToUser <> '')"),
            0);
  // Closed issues have their closing date; open ones none.
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues WHERE (StatusCode = 'Open') = (DateClosed IS NOT NULL)"), 0);
  // The issue list joins every sorted code table on the issue's value: no issue may drop out.
  std::string joins;
  for (const auto& row : db.Rows("SELECT f.FieldName, c.TableName, c.TableFieldName, c.VariesByProject FROM "
                                 "IssueFields f JOIN IssueCodeTables c ON c.TableName = f.TableName WHERE "
                                 "f.TableName <> 'Projects' AND c.NaturalSort = 0")) {
    std::vector<std::string> p;
    size_t at = 0;
    for (size_t bar; (bar = row.find('|', at)) != std::string::npos; at = bar + 1) p.push_back(row.substr(at, bar - at));
    p.push_back(row.substr(at));
    std::string alias = p[0] + "_" + p[1];
    joins += " inner join " + p[1] + " as " + alias + " on " + alias + "." + p[2] + " = Issues." + p[0];
    if (p[3] == "1") joins += " and " + alias + ".ProjectId = Issues.ProjectId ";
  }
  EXPECT_NE(joins.find("ResolutionCode_Resolutions"), std::string::npos);
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues INNER JOIN Projects ON Issues.ProjectId = Projects.ProjectId" +
                   joins),
            6);
  // Users: passwords hashed, layouts made, the administrator runs the demo project.
  for (const auto& user : db.Rows("SELECT UserId FROM Users WHERE SiteAdministrator = 0")) {
    EXPECT_TRUE(brisquel::VerifySecret(db.Text("SELECT Password FROM Users WHERE UserId = '" + user + "'"),
                                       brisquel::schema::kDemoPassword))
        << user;
    EXPECT_EQ(db.Int("SELECT count(*) FROM SummaryLayouts WHERE UserId = '" + user + "'"), 1) << user;
  }
  EXPECT_EQ(db.Rows("SELECT ProjectAdministrator FROM ProjectUsers WHERE UserId = 'admin'"),
            std::vector<std::string>{"1"});
  // A public user can open issues in the public project through its group.
  EXPECT_EQ(db.Int("SELECT count(*) FROM Projects p JOIN WorkflowStateGroups g ON g.GroupCode = "
                   "p.PublicMembersOfGroupCode JOIN WorkflowStates s ON s.StateId = g.StateId WHERE "
                   "p.PublicAccessible = 1 AND s.StateType = 1"),
            1);
  EXPECT_EQ(db.Run("PRAGMA foreign_key_check").rc, SQLITE_OK);
  EXPECT_EQ(db.Rows("PRAGMA foreign_key_check"), std::vector<std::string>{});
}

}  // namespace

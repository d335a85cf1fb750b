// The tables of a fresh site database: names and case, keys compared without regard to case,
// refusals by keys and foreign keys, row versions.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ado/row_version.h"
#include "schema/constraints.h"
#include "support/site_db.h"

using sitedb::Db;
using sitedb::FreshSite;

namespace {

std::vector<std::string> Columns(Db& db, const std::string& table) {
  return db.Rows("SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid");
}

// Columns the system uses by name. Where the order is the one a version step declares (the
// e-mail tables) or the shape of a code table, the order is checked too.
struct TableShape {
  std::string table;
  std::vector<std::string> columns;
  bool ordered;
};

const std::vector<TableShape>& Shapes() {
  static const std::vector<TableShape> shapes = {
      {"Issues",
       {"IssueId", "ProjectId", "AssignedToUser", "ResolutionCode", "StatusCode", "CreatedByUserId",
        "DateOpened", "DateClosed", "DateTimeClosed", "DateLastUpdated", "DateTimeLastUpdated",
        "Valid", "Fixed", "LastUpdated", "Summary", "PriorityCode", "SeverityCode", "ModuleCode",
        "DetectedInBuildCode", "VerifiedInBuildCode"},
       false},
      {"IssueHistory",
       {"HistoryId", "IssueId", "ProjectId", "UserId", "CreatedOn", "OldResolutionCode",
        "OldStatusCode", "OldAssignedToUser", "NewResolutionCode", "NewStatusCode",
        "NewAssignedToUser"},
       false},
      {"IssueComments",
       {"CommentId", "IssueId", "FieldName", "CommentAuthor", "CommentText", "CommentCreatedOn"},
       false},
      {"IssueAttachments",
       {"AttachmentId", "IssueId", "AttachmentMimeType", "AttachmentFilename", "AttachmentData"},
       false},
      {"ProvisionalAttachments",
       {"ProvisionalAttachmentId", "AttachmentMimeType", "AttachmentFilename", "AttachmentData"},
       false},
      {"Projects",
       {"ProjectId", "ProjectCode", "ProjectDescription", "PublicAccessible",
        "PublicMembersOfGroupCode", "EMailEnabled", "WorkflowId", "LastUpdated"},
       false},
      {"ProjectBuilds", {"ProjectId", "LastUpdated", "BuildCode", "SortOrder"}, true},
      {"Resolutions", {"LastUpdated", "ResolutionCode", "SortOrder"}, true},
      {"StatusCodes", {"LastUpdated", "StatusCode", "SortOrder"}, true},
      {"Priorities", {"LastUpdated", "PriorityCode", "SortOrder"}, true},
      {"Severities", {"LastUpdated", "SeverityCode", "SortOrder"}, true},
      {"ProjectModules", {"ProjectId", "LastUpdated", "ModuleCode"}, true},
      {"Users",
       {"UserId", "UserName", "UserEMail", "Password", "SiteAdministrator", "PublicUser",
        "EMailEnabled", "DefaultFilter", "DefaultProject", "DefaultLayout", "MyAssignmentNumIssues",
        "SearchNumIssues", "ReleaseNotesNumIssues", "SecretQuestion", "SecretQuestionAnswer",
        "LastUpdated"},
       false},
      {"Groups", {"GroupCode"}, true},
      {"UserGroups", {"UserId", "GroupCode"}, true},
      {"ProjectUsers", {"ProjectId", "UserId", "ProjectAdministrator", "OverrideWorkflow"}, true},
      {"ProjectGroupLeads", {"ProjectId", "UserId", "GroupCode"}, true},
      {"IssueFields",
       {"FieldName", "FieldFriendlyName", "TooltipForFilter", "Representation", "NumLines",
        "TextMaxLength", "TableName", "DataEntryField", "FilterFieldName", "FilterFqFieldName",
        "FilterFieldType", "LastUpdated"},
       false},
      {"IssueCodeTables",
       {"TableName", "TableFriendlyName", "TableFriendlyNameSingular", "VariesByProject",
        "TablePurpose", "TableFieldName", "NaturalSort", "TableSortByFieldName",
        "TableDefaultSortOrder", "LastUpdated"},
       false},
      {"SummaryLayouts", {"UserId", "LayoutName", "NumRows", "LastUpdated"}, false},
      {"SummaryLayoutFields", {"UserId", "LayoutName", "RowNumber", "DisplayOrder", "FieldName"}, false},
      {"SummaryFilters",
       {"UserId", "FilterName", "AdvancedFilter", "FilterExpression", "fqFilterExpression",
        "LastUpdated"},
       false},
      {"DataEntryLayouts", {"LayoutId", "NumRows", "LastUpdated"}, false},
      {"DataEntryLayoutFields", {"LayoutId", "RowNumber", "DisplayOrder", "FieldName"}, false},
      {"EntryFormRows", {"RowNumber", "NumColumns"}, false},
      {"EntryFormFields", {"RowNumber", "ColumnNumber", "FieldName"}, false},
      {"Workflows", {"WorkflowId", "SiteDefault", "Version", "LastUpdated"}, false},
      {"WorkflowStates",
       {"StateId", "WorkflowId", "StateName", "StateType", "ResolutionCode", "StatusCode",
        "IssueValid", "IssueFixed", "DiagramTop", "DiagramLeft", "DiagramWidth", "DiagramHeight"},
       false},
      {"WorkflowActions",
       {"ActionId", "WorkflowId", "ActionType", "FromStateId", "ToStateId", "LineType", "ActionName",
        "AllowAutomatic", "GroupCode"},
       false},
      {"WorkflowActionPts", {"ActionId", "x", "y"}, true},
      {"WorkflowActionAssignments", {"ActionId", "GroupCode"}, true},
      {"WorkflowStateValidations", {"StateId", "FieldName"}, true},
      {"WorkflowStateGroups", {"StateId", "GroupCode"}, true},
      {"WorkflowStateTeamLeads", {"StateId", "GroupCode"}, true},
      {"EMailConfiguration",
       {"EMailConfigurationId", "EMailEnabled", "SmtpHost", "SmtpPort", "SendTimeout",
        "FromEMailAddress", "ServerLoginRequired", "SmtpUserId", "SmtpPassword",
        "MaximumDeliveryAttempts", "DeliveryFrequency", "LastUpdated", "WebSiteURL"},
       true},
      {"EMailContentTransferCharsets", {"ContentTypeCharset", "LastUpdated"}, true},
      {"EMailContentTransferEncodings",
       {"ContentTransferEncoding", "EncodingDescription", "LastUpdated"},
       true},
      {"EMailDeliveryFrequency", {"Frequency", "FrequencyName"}, true},
      {"EMailNotificationEventTypes", {"NotificationEventType", "NotificationEventTypeName"}, true},
      {"EMailRecipientTypes", {"RecipientType", "RecipientTypeName"}, true},
      {"EMailTemplateTypes",
       {"TemplateTypeName", "Multipart", "MultipartContentType", "MultipartContentTypeSubtype",
        "MultipartContentTypeAdditionalParameters", "LastUpdated"},
       true},
      {"EMailTestResults", {"TestResultId", "TestResult"}, true},
      {"EMailTemplates", {"TemplateName", "TemplateTypeName", "Subject", "LastUpdated"}, true},
      {"EMailTemplateTypeHeaders",
       {"TemplateTypeName", "HeaderFieldName", "HeaderFieldValue", "LastUpdated"},
       true},
      {"EMailTemplateTypeParts",
       {"TemplateTypeName", "PartName", "PartOrder", "ContentType", "ContentTypeSubtype",
        "ContentTypeCharset", "ContentTypeAdditionalParameters", "ContentTransferEncoding",
        "LastUpdated"},
       true},
      {"EMailNotificationRules",
       {"NotificationRuleId", "ProjectId", "NotificationRuleName", "Active",
        "NotificationEventType", "WorkflowId", "ActionId", "RecipientType", "RecipientAddress",
        "TemplateName", "LastUpdated"},
       true},
      {"EMailTemplateParts",
       {"TemplateName", "TemplateTypeName", "PartName", "PartContent", "LastUpdated"},
       true},
      {"EMailTemplateTypePartHeaders",
       {"TemplateTypeName", "PartName", "HeaderFieldName", "HeaderFieldValue", "LastUpdated"},
       true},
      {"EMailNotifications",
       {"EMailNotificationId", "EMailAddress", "IssueId", "TemplateName", "StatusCode",
        "DeliveryAttempts", "DateCompleted", "DateTimeCompleted", "AttemptedDeliveryErrorMsg",
        "LastUpdated"},
       true},
      {"VantrelSite", {"DatabaseVersion", "LastUpdated", "WebSiteURL"}, true},
      {"SiteBackups",
       {"BackupDatabase", "BackupFrequency", "BackupTime", "BackupArchive", "ExpireBackups",
        "BackupRetention", "LastUpdated"},
       true},
      {"SiteBackupFrequencyCodes", {"BackupFrequency"}, true},
      {"SiteBackupTimes", {"BackupTime"}, true},
      {"SiteBackupRetentionCodes", {"BackupRetention"}, true},
  };
  return shapes;
}

TEST(SchemaTest, EveryTableAndColumnHasItsNameAndCase) {
  Db db(FreshSite(false));
  for (const auto& shape : Shapes()) {
    SCOPED_TRACE(shape.table);
    // The table's own name, with its case, as SQLite keeps it.
    EXPECT_EQ(db.Text("SELECT name FROM sqlite_schema WHERE type = 'table' AND name = '" +
                      shape.table + "' COLLATE BINARY"),
              shape.table);
    auto actual = Columns(db, shape.table);
    if (shape.ordered) {
      EXPECT_EQ(actual, shape.columns);
    } else {
      std::set<std::string> have(actual.begin(), actual.end());
      for (const auto& c : shape.columns) EXPECT_TRUE(have.count(c)) << c;
    }
  }
  // Dropped by the 1.10 step; not part of a 1.11 database.
  EXPECT_EQ(db.Int("SELECT count(*) FROM sqlite_schema WHERE name = 'IssueActivity'"), 0);
  // A comment log has no column.
  auto issueColumns = Columns(db, "Issues");
  EXPECT_EQ(std::count(issueColumns.begin(), issueColumns.end(), "Comments"), 0);
}

TEST(SchemaTest, RowVersionsAreOnTheTablesWritersTakeBack) {
  Db db(FreshSite(false));
  for (const char* table :
       {"Issues", "Users", "Projects", "SummaryLayouts", "DataEntryLayouts", "IssueCodeTables",
        "Workflows", "SummaryFilters", "IssueFields", "Resolutions", "StatusCodes", "ProjectBuilds",
        "Priorities", "Severities", "ProjectModules", "SiteBackups", "EMailConfiguration",
        "EMailTemplates", "EMailTemplateParts", "EMailNotificationRules"}) {
    EXPECT_TRUE(ado::HasRowVersion(db.handle(), table)) << table;
    EXPECT_EQ(db.Int(std::string("SELECT count(*) FROM sqlite_schema WHERE type = 'trigger' AND "
                                 "name IN ('") +
                     table + "_RowVersionInsert', '" + table + "_RowVersionUpdate')"),
              2)
        << table;
  }
  // The site record's LastUpdated is the time of the last version step, not a row version.
  EXPECT_FALSE(ado::HasRowVersion(db.handle(), "VantrelSite"));
}

TEST(SchemaTest, KeysAndTextCompareWithoutRegardToCase) {
  Db db(FreshSite(true));
  // The duplicate differs from the stored key only in letter case.
  struct Case {
    const char* sql;
    int rc;
  } cases[] = {
      {"INSERT INTO Groups (GroupCode) VALUES ('DEVELOPERS')", SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO Users (UserId, UserName) VALUES ('ADMIN', 'x')", SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO Projects (ProjectCode) VALUES ('DEMO')", SQLITE_CONSTRAINT_UNIQUE},
      {"INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES ('fixed', 9)",
       SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (1, '1.0', 9)",
       SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('ALICE', 'urgent ISSUES')",
       SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO IssueFields (FieldName) VALUES ('summary')", SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO EMailTemplates (TemplateName, TemplateTypeName) VALUES "
       "('assignment notice', 'html')",
       SQLITE_CONSTRAINT_PRIMARYKEY},
      {"INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames) "
       "VALUES ('df_issues_summary', 'Issues', 'DEFAULT', 'Summary')",
       SQLITE_CONSTRAINT_PRIMARYKEY},
  };
  for (const auto& c : cases) {
    auto o = db.Run(c.sql);
    EXPECT_EQ(o.rc, c.rc) << c.sql << ": " << o.message;
  }
  // The keys the writers bind are found in any case, and 'Open' tests match any case too.
  EXPECT_EQ(db.Int("SELECT count(*) FROM Users WHERE UserId = 'Admin'"), 1);
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues WHERE StatusCode = 'OPEN'"),
            db.Int("SELECT count(*) FROM Issues WHERE StatusCode = 'Open'"));
  EXPECT_EQ(db.Int("SELECT count(*) FROM IssueHistory WHERE NewAssignedToUser = 'ALICE'"),
            db.Int("SELECT count(*) FROM IssueHistory WHERE NewAssignedToUser = 'alice'"));
  // Password hashes are compared exactly: no other spelling matches.
  std::string hash = db.Text("SELECT Password FROM Users WHERE UserId = 'admin'");
  std::string upper = hash;
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(db.Int("SELECT count(*) FROM Users WHERE Password = '" + upper + "'"), 0);
}

TEST(SchemaTest, DeclaredForeignKeysRefuseMissingAndUsedParents) {
  Db db(FreshSite(false));
  // A rule naming a template that does not exist.
  auto o = db.Run(
      "INSERT INTO EMailNotificationRules (NotificationRuleName, NotificationEventType, WorkflowId, "
      "RecipientType, TemplateName) VALUES ('r', 1, 1, 1, 'No such template')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_FOREIGNKEY) << o.message;
  // A template still used by a rule.
  o = db.Run(
      "DELETE FROM EMailTemplateParts WHERE TemplateName = 'Assignment Notice'; "
      "DELETE FROM EMailTemplates WHERE TemplateName = 'Assignment Notice'");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_FOREIGNKEY) << o.message;
  // A pair key: a part of a format that has no such part.
  o = db.Run(
      "INSERT INTO EMailTemplateParts (TemplateName, TemplateTypeName, PartName) "
      "VALUES ('Assignment Notice', 'HTML', 'Rich text')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_FOREIGNKEY) << o.message;
  // Case does not matter for the reference either.
  db.Exec(
      "INSERT INTO EMailNotificationRules (NotificationRuleName, NotificationEventType, WorkflowId, "
      "RecipientType, TemplateName) VALUES ('r', 1, 1, 1, 'ASSIGNMENT NOTICE')");
  // The rule's default WorkflowId 0 names no workflow: the writers always give one.
  o = db.Run(
      "INSERT INTO EMailNotificationRules (NotificationRuleName, NotificationEventType, "
      "RecipientType, TemplateName) VALUES ('r2', 1, 1, 'Assignment Notice')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_FOREIGNKEY) << o.message;
}

// The message the data layer reports as native error 547.
void ExpectEmulatedRefusal(const sitedb::Outcome& o, const std::string& constraint) {
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_TRIGGER) << o.message;
  EXPECT_EQ(o.message, std::string(brisquel::schema::kForeignKeyFailed) + " (" + constraint + ")");
}

TEST(SchemaTest, ForeignKeysAddedLaterAreKeptByTriggers) {
  Db db(FreshSite(true));
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET ResolutionCode = 'Invented' WHERE IssueId = 1"),
                        "FK_Issues_Resolutions");
  ExpectEmulatedRefusal(
      db.Run("INSERT INTO IssueHistory (IssueId, ProjectId, UserId, NewResolutionCode, "
             "NewStatusCode) VALUES (1, 1, 'admin', 'Invented', 'Open')"),
      "FK_IssueHistory_NewResolutions");
  // A resolution still used by an issue or a history row cannot go.
  ExpectEmulatedRefusal(db.Run("DELETE FROM Resolutions WHERE ResolutionCode = 'Duplicate'"),
                        "FK_Issues_Resolutions");
  // A per-project list: the build must be one of the issue's own project.
  db.Exec(
      "INSERT INTO Projects (ProjectId, ProjectCode) VALUES (2, 'Other'); "
      "INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES (2, '', 1), (2, '9.9', 2); "
      "INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES (2, '')");
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET DetectedInBuildCode = '9.9' WHERE IssueId = 1"),
                        "fk_ProjectBuilds_DetectedInBuildCode");
  // Moving an issue to another project checks its lists there.
  db.Exec("UPDATE Issues SET ModuleCode = '' WHERE IssueId = 1");
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET ProjectId = 2 WHERE IssueId = 1"),
                        "fk_ProjectBuilds_DetectedInBuildCode");
  db.Exec(
      "UPDATE Issues SET ProjectId = 2, DetectedInBuildCode = '9.9', ModuleCode = '', "
      "VerifiedInBuildCode = '' WHERE IssueId = 1");
  ExpectEmulatedRefusal(
      db.Run("DELETE FROM ProjectBuilds WHERE ProjectId = 2 AND BuildCode = '9.9'"),
      "fk_ProjectBuilds_DetectedInBuildCode");
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET PriorityCode = 'Whenever' WHERE IssueId = 2"),
                        "fk_Priorities_PriorityCode");
  ExpectEmulatedRefusal(db.Run("DELETE FROM Severities WHERE SeverityCode = 'Critical'"),
                        "fk_Severities_SeverityCode");
  // A refusal undoes its statement only.
  EXPECT_EQ(db.Int("SELECT count(*) FROM Severities"), 5);
}

TEST(SchemaTest, RenamingACodeKeepsTheReferencesValid) {
  Db db(FreshSite(true));
  // Only the letter case changes: the issues still match the code.
  db.Exec("UPDATE Resolutions SET ResolutionCode = 'FIXED' WHERE ResolutionCode = 'Fixed'");
  // A real rename as the value writer does it: new row, issues and history moved, old row last.
  ExpectEmulatedRefusal(
      db.Run("UPDATE Resolutions SET ResolutionCode = 'Repaired' WHERE ResolutionCode = 'Fixed'"),
      "FK_Issues_Resolutions");
  db.Exec(
      "BEGIN; "
      "INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES ('Repaired', 3); "
      "UPDATE Issues SET ResolutionCode = 'Repaired' WHERE ResolutionCode = 'Fixed'; "
      "UPDATE IssueHistory SET NewResolutionCode = 'Repaired' WHERE NewResolutionCode = 'Fixed'; "
      "UPDATE IssueHistory SET OldResolutionCode = 'Repaired' WHERE OldResolutionCode = 'Fixed'; "
      "DELETE FROM Resolutions WHERE ResolutionCode = 'Fixed'; "
      "COMMIT");
  EXPECT_EQ(db.Int("SELECT count(*) FROM Issues WHERE ResolutionCode = 'Repaired'"), 2);
  // A code nothing uses can go.
  db.Exec("DELETE FROM Resolutions WHERE ResolutionCode = 'Not reproducible'");
}

TEST(SchemaTest, RowsWrittenBeforeAKeyWasAddedAreNotChecked) {
  Db db(FreshSite(true));
  // Stand-in for a row written before the 1.01 step added the key.
  db.Exec(brisquel::schema::DropForeignKeyTriggersSql("FK_Issues_Resolutions"));
  db.Exec("UPDATE Issues SET ResolutionCode = 'Legacy' WHERE IssueId = 5");
  brisquel::schema::InstallTriggerForeignKeys(db.handle(), "Resolutions");
  // The old row stays and can be written on other columns; its key column is checked again.
  db.Exec("UPDATE Issues SET Summary = 'Still here' WHERE IssueId = 5");
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET ResolutionCode = 'Legacy2' WHERE IssueId = 5"),
                        "FK_Issues_Resolutions");
  ExpectEmulatedRefusal(db.Run("UPDATE Issues SET ResolutionCode = 'Legacy' WHERE IssueId = 5"),
                        "FK_Issues_Resolutions");
  // Re-installing for a table touches only the keys of that table, and installing twice is safe.
  brisquel::schema::InstallTriggerForeignKeys(db.handle(), "Issues");
  EXPECT_EQ(db.Int("SELECT count(*) FROM sqlite_schema WHERE type = 'trigger' AND name LIKE "
                   "'FK_Issues_Resolutions%'"),
            4);
}

TEST(SchemaTest, DuplicateKeysAreRefused) {
  Db db(FreshSite(true));
  auto o = db.Run("INSERT INTO Users (UserId, UserName) VALUES ('alice', 'Another Alice')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_PRIMARYKEY) << o.message;
  o = db.Run("INSERT INTO SummaryFilters (UserId, FilterName) VALUES ('alice', 'Urgent issues')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_PRIMARYKEY) << o.message;
  o = db.Run("INSERT INTO Projects (ProjectCode) VALUES ('Demo')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_UNIQUE) << o.message;
  o = db.Run("INSERT INTO EMailTemplateParts (TemplateName, TemplateTypeName, PartName) "
             "VALUES ('Assignment Notice', 'HTML', 'Text')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_PRIMARYKEY) << o.message;
  o = db.Run("INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES (1, 'bob', 'Developers')");
  EXPECT_EQ(o.rc, SQLITE_CONSTRAINT_PRIMARYKEY) << o.message;
}

TEST(SchemaTest, ARowVersionChangesOnEveryUpdate) {
  Db db(FreshSite(true));
  std::vector<std::string> tables = db.Rows(
      "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
  int checked = 0;
  for (const auto& table : tables) {
    if (!ado::HasRowVersion(db.handle(), table)) continue;
    if (db.Int("SELECT count(*) FROM \"" + table + "\"") == 0) continue;
    SCOPED_TRACE(table);
    ++checked;
    // First rows carry a version already.
    EXPECT_EQ(db.Int("SELECT count(*) FROM \"" + table + "\" WHERE LastUpdated IS NULL OR LastUpdated <= 0"), 0);
    // A plain UPDATE that sets a column to its own value still counts as a change.
    std::string column = Columns(db, table).front();
    if (column == "LastUpdated") column = Columns(db, table)[1];
    long long rowid = db.Int("SELECT min(rowid) FROM \"" + table + "\"");
    std::string where = " WHERE rowid = " + std::to_string(rowid);
    long long before = db.Int("SELECT LastUpdated FROM \"" + table + "\"" + where);
    long long other = db.Int("SELECT LastUpdated FROM \"" + table + "\" WHERE rowid <> " +
                             std::to_string(rowid) + " ORDER BY rowid LIMIT 1");
    db.Exec("UPDATE \"" + table + "\" SET \"" + column + "\" = \"" + column + "\"" + where);
    long long first = db.Int("SELECT LastUpdated FROM \"" + table + "\"" + where);
    db.Exec("UPDATE \"" + table + "\" SET \"" + column + "\" = \"" + column + "\"" + where);
    long long second = db.Int("SELECT LastUpdated FROM \"" + table + "\"" + where);
    EXPECT_GT(first, before);
    EXPECT_GT(second, first);
    // Other rows keep theirs.
    EXPECT_EQ(db.Int("SELECT LastUpdated FROM \"" + table + "\" WHERE rowid <> " +
                     std::to_string(rowid) + " ORDER BY rowid LIMIT 1"),
              other);
  }
  EXPECT_GE(checked, 25);
  // A new row gets a version above every earlier one.
  long long top = db.Int("SELECT Version FROM VantrelRowVersion");
  db.Exec("INSERT INTO Groups (GroupCode) VALUES ('Writers')");
  db.Exec("INSERT INTO SummaryLayouts (UserId, LayoutName, NumRows) VALUES ('bob', 'Mine', 1)");
  EXPECT_GT(db.Int("SELECT LastUpdated FROM SummaryLayouts WHERE LayoutName = 'Mine'"), top);
}

TEST(SchemaTest, TheCatalogueNamesEveryConstraintOfTheTables) {
  Db db(FreshSite(false));
  // Every "CONSTRAINT name" in a table definition is catalogued with its table, and the other way
  // round for declared constraints.
  std::map<std::string, std::string> declared;  // name -> table
  for (const auto& row : db.Rows("SELECT name, sql FROM sqlite_schema WHERE type = 'table' AND sql IS NOT NULL")) {
    auto bar = row.find('|');
    std::string table = row.substr(0, bar), sql = row.substr(bar + 1);
    for (size_t at = sql.find("CONSTRAINT "); at != std::string::npos; at = sql.find("CONSTRAINT ", at + 1)) {
      size_t start = at + 11, end = sql.find_first_of(" \n", start);
      declared[sql.substr(start, end - start)] = table;
    }
  }
  EXPECT_GT(declared.size(), 120u);
  for (const auto& [name, table] : declared) {
    EXPECT_EQ(db.Text("SELECT TableName || '/' || Enforcement FROM VantrelConstraints WHERE ConstraintName = '" +
                      name + "' COLLATE BINARY"),
              table + "/DECLARED")
        << name;
  }
  for (const auto& name : db.Rows("SELECT ConstraintName FROM VantrelConstraints WHERE Enforcement = 'DECLARED'")) {
    EXPECT_TRUE(declared.count(name)) << name;
  }
  // Every catalogued column exists, and every emulated key has its four triggers.
  for (const auto& row : db.Rows("SELECT ConstraintName, TableName, ColumnNames, ReferencedTable, "
                                 "ReferencedColumns, Enforcement FROM VantrelConstraints")) {
    std::vector<std::string> f;
    size_t pos = 0;
    for (size_t bar; (bar = row.find('|', pos)) != std::string::npos; pos = bar + 1) f.push_back(row.substr(pos, bar - pos));
    f.push_back(row.substr(pos));
    auto check = [&](const std::string& table, const std::string& list) {
      auto cols = Columns(db, table);
      size_t p = 0;
      while (p <= list.size() && !list.empty()) {
        size_t comma = list.find(',', p);
        std::string c = list.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
        EXPECT_NE(std::find(cols.begin(), cols.end(), c), cols.end()) << f[0] << ": " << table << "." << c;
        if (comma == std::string::npos) break;
        p = comma + 1;
      }
    };
    check(f[1], f[2]);
    if (!f[3].empty()) check(f[3], f[4]);
    if (f[5] == "TRIGGER") {
      EXPECT_EQ(db.Int("SELECT count(*) FROM sqlite_schema WHERE type = 'trigger' AND name IN ('" + f[0] +
                       "_ChildInsert', '" + f[0] + "_ChildUpdate', '" + f[0] + "_ParentDelete', '" + f[0] +
                       "_ParentUpdate')"),
                4)
          << f[0];
    }
  }
  // The names the run-time writers and version steps use.
  for (const char* name : {"FK_Issues_Resolutions", "FK_IssueHistory_NewResolutions",
                           "DF_Users_EMailEnabled", "DF_Projects_EMailEnabled",
                           "DF_VantrelSite_WebSiteURL", "PK_MessageTypePart",
                           "FK_EMailNotifications_Issues", "pk_ProjectBuilds", "fk_ProjectBuilds_Projects"}) {
    EXPECT_EQ(db.Int(std::string("SELECT count(*) FROM VantrelConstraints WHERE ConstraintName = '") + name +
                     "' COLLATE BINARY"),
              1)
        << name;
  }
}

}  // namespace

-- Issues with their history, comments and attachments; projects, users, groups and memberships;
-- the code tables of resolutions, status codes and builds.
--
-- Conventions of every file of the schema: text columns compare without regard to case (COLLATE
-- NOCASE) except secrets; flags are BIT columns holding 0 or 1; dates are text
-- 'YYYY-MM-DD HH:MM:SS.SSS' in local time (a date alone has the time 00:00:00.000); LastUpdated
-- INTEGER columns are row versions kept by triggers from VantrelRowVersion (installed by the
-- program that creates the database; nothing writes them directly). The data layer holds values to
-- the declared VARCHAR widths (SQLite itself does not), so a width is never narrower than the
-- values the system stores.

CREATE TABLE Projects (
  ProjectId INTEGER CONSTRAINT PK_Projects PRIMARY KEY AUTOINCREMENT,
  ProjectCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT UQ_Projects_ProjectCode UNIQUE,
  ProjectDescription VARCHAR(4000) NOT NULL DEFAULT '' COLLATE NOCASE,
  PublicAccessible BIT NOT NULL DEFAULT 0,
  PublicMembersOfGroupCode VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  EMailEnabled BIT NOT NULL CONSTRAINT DF_Projects_EMailEnabled DEFAULT 1,
  WorkflowId INTEGER NOT NULL DEFAULT 1,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

-- Password and SecretQuestionAnswer hold salted hashes (Argon2id strings), never the text entered.
CREATE TABLE Users (
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT PK_Users PRIMARY KEY,
  UserName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  UserEMail VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  Password VARCHAR(128) NOT NULL DEFAULT '',
  SiteAdministrator BIT NOT NULL DEFAULT 0,
  PublicUser BIT NOT NULL DEFAULT 0,
  EMailEnabled BIT NOT NULL CONSTRAINT DF_Users_EMailEnabled DEFAULT 1,
  DefaultFilter VARCHAR(100) NOT NULL DEFAULT '' COLLATE NOCASE,
  DefaultProject INTEGER NOT NULL DEFAULT -1,
  DefaultLayout VARCHAR(50) NOT NULL DEFAULT 'Default' COLLATE NOCASE,
  MyAssignmentNumIssues INTEGER NOT NULL DEFAULT 20,
  SearchNumIssues INTEGER NOT NULL DEFAULT 20,
  ReleaseNotesNumIssues INTEGER NOT NULL DEFAULT 20,
  SecretQuestion VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  SecretQuestionAnswer VARCHAR(128) NOT NULL DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE Groups (
  GroupCode VARCHAR(20) NOT NULL COLLATE NOCASE CONSTRAINT PK_Groups PRIMARY KEY
);

CREATE TABLE UserGroups (
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  GroupCode VARCHAR(20) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_UserGroups PRIMARY KEY (UserId, GroupCode)
);
CREATE INDEX IX_UserGroups_GroupCode ON UserGroups (GroupCode);

CREATE TABLE ProjectUsers (
  ProjectId INTEGER NOT NULL,
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  ProjectAdministrator BIT NOT NULL DEFAULT 0,
  OverrideWorkflow BIT NOT NULL DEFAULT 0,
  CONSTRAINT PK_ProjectUsers PRIMARY KEY (ProjectId, UserId)
);
CREATE INDEX IX_ProjectUsers_UserId ON ProjectUsers (UserId);

-- One lead per group and project.
CREATE TABLE ProjectGroupLeads (
  ProjectId INTEGER NOT NULL,
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  GroupCode VARCHAR(20) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_ProjectGroupLeads PRIMARY KEY (ProjectId, GroupCode)
);
CREATE INDEX IX_ProjectGroupLeads_UserId ON ProjectGroupLeads (UserId);

-- Code tables (registered in IssueCodeTables): [ProjectId,] LastUpdated, the value column,
-- [SortOrder]; key pk_<table>; per-project tables refer to Projects as fk_<table>_Projects.
CREATE TABLE Resolutions (
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  ResolutionCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT pk_Resolutions PRIMARY KEY,
  SortOrder INTEGER NOT NULL
);

CREATE TABLE StatusCodes (
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  StatusCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT pk_StatusCodes PRIMARY KEY,
  SortOrder INTEGER NOT NULL
);

CREATE TABLE ProjectBuilds (
  ProjectId INTEGER NOT NULL
    CONSTRAINT fk_ProjectBuilds_Projects REFERENCES Projects (ProjectId),
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  BuildCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  SortOrder INTEGER NOT NULL,
  CONSTRAINT pk_ProjectBuilds PRIMARY KEY (ProjectId, BuildCode)
);

-- One row per issue: the fixed columns, then one column per issue field (IssueFields) that is not
-- a comment log. The field columns have the shape the custom fields get: DF_Issues_<field> and,
-- for a list, fk_<code table>_<field> (added as "with nocheck", so kept by triggers).
CREATE TABLE Issues (
  IssueId INTEGER CONSTRAINT PK_Issues PRIMARY KEY AUTOINCREMENT,
  ProjectId INTEGER NOT NULL,
  AssignedToUser VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  ResolutionCode VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  StatusCode VARCHAR(50) NOT NULL DEFAULT 'Open' COLLATE NOCASE,
  CreatedByUserId VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  DateOpened DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime')),
  DateClosed DATETIME NULL,
  DateTimeClosed DATETIME NULL,
  DateLastUpdated DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime')),
  DateTimeLastUpdated DATETIME NULL,
  Valid BIT NOT NULL DEFAULT 0,
  Fixed BIT NOT NULL DEFAULT 0,
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  Summary VARCHAR(255) NOT NULL COLLATE NOCASE CONSTRAINT DF_Issues_Summary DEFAULT '',
  PriorityCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_Issues_PriorityCode DEFAULT '',
  SeverityCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_Issues_SeverityCode DEFAULT '',
  ModuleCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_Issues_ModuleCode DEFAULT '',
  DetectedInBuildCode VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_Issues_DetectedInBuildCode DEFAULT '',
  VerifiedInBuildCode VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_Issues_VerifiedInBuildCode DEFAULT ''
);
-- The issue lists filter by project and status and sort by priority: their counts read these
-- indexes alone, and their pages come in priority order without sorting every match (the issue
-- id, the rowid, is the last key of both).
CREATE INDEX IX_Issues_ProjectId ON Issues (ProjectId, StatusCode, PriorityCode);
CREATE INDEX IX_Issues_StatusCode ON Issues (StatusCode, PriorityCode);
-- The issues of each project in each status, kept by the triggers below, so that the standard
-- lists count a whole site's open issues from a few rows.
CREATE TABLE IssueCounts (
  ProjectId INTEGER NOT NULL,
  StatusCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  Issues INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (ProjectId, StatusCode)
) WITHOUT ROWID;
CREATE TRIGGER IssueCounts_Insert AFTER INSERT ON Issues FOR EACH ROW BEGIN
  INSERT INTO IssueCounts (ProjectId, StatusCode, Issues) VALUES (new.ProjectId, new.StatusCode, 1)
    ON CONFLICT (ProjectId, StatusCode) DO UPDATE SET Issues = Issues + 1;
END;
CREATE TRIGGER IssueCounts_Delete AFTER DELETE ON Issues FOR EACH ROW BEGIN
  UPDATE IssueCounts SET Issues = Issues - 1 WHERE ProjectId = old.ProjectId AND StatusCode = old.StatusCode;
END;
CREATE TRIGGER IssueCounts_Update AFTER UPDATE OF ProjectId, StatusCode ON Issues FOR EACH ROW
  WHEN old.ProjectId IS NOT new.ProjectId OR old.StatusCode IS NOT new.StatusCode BEGIN
  UPDATE IssueCounts SET Issues = Issues - 1 WHERE ProjectId = old.ProjectId AND StatusCode = old.StatusCode;
  INSERT INTO IssueCounts (ProjectId, StatusCode, Issues) VALUES (new.ProjectId, new.StatusCode, 1)
    ON CONFLICT (ProjectId, StatusCode) DO UPDATE SET Issues = Issues + 1;
END;
CREATE INDEX IX_Issues_AssignedToUser ON Issues (AssignedToUser, StatusCode);
-- A member's issues assigned to a user in one status are counted from this index alone, a range
-- per project of his, where the index by project and status reads every issue of that status.
CREATE INDEX IX_Issues_ProjectId_AssignedToUser ON Issues (ProjectId, AssignedToUser, StatusCode);
CREATE INDEX IX_Issues_ResolutionCode ON Issues (ResolutionCode, StatusCode);
-- Whether a user may be deleted is asked of every column that names a user: one probe each.
CREATE INDEX IX_Issues_CreatedByUserId ON Issues (CreatedByUserId);
-- The trend and daily statistics group issues by the day they were opened and closed.
CREATE INDEX IX_Issues_DateOpened ON Issues (DateOpened);
CREATE INDEX IX_Issues_DateClosed ON Issues (DateClosed);

CREATE TABLE IssueHistory (
  HistoryId INTEGER CONSTRAINT PK_IssueHistory PRIMARY KEY AUTOINCREMENT,
  IssueId INTEGER NOT NULL,
  ProjectId INTEGER NOT NULL,
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  CreatedOn DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  OldResolutionCode VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  OldStatusCode VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  OldAssignedToUser VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  NewResolutionCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  NewStatusCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  NewAssignedToUser VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE
);
CREATE INDEX IX_IssueHistory_IssueId ON IssueHistory (IssueId, CreatedOn);
CREATE INDEX IX_IssueHistory_NewResolutionCode ON IssueHistory (NewResolutionCode);
CREATE INDEX IX_IssueHistory_UserId ON IssueHistory (UserId);
CREATE INDEX IX_IssueHistory_OldAssignedToUser ON IssueHistory (OldAssignedToUser);
CREATE INDEX IX_IssueHistory_NewAssignedToUser ON IssueHistory (NewAssignedToUser);

CREATE TABLE IssueComments (
  CommentId INTEGER CONSTRAINT PK_IssueComments PRIMARY KEY AUTOINCREMENT,
  IssueId INTEGER NOT NULL,
  FieldName VARCHAR(20) NOT NULL COLLATE NOCASE,
  CommentAuthor VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  CommentText VARCHAR(7900) NOT NULL DEFAULT '' COLLATE NOCASE,
  CommentCreatedOn DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'))
);
CREATE INDEX IX_IssueComments_IssueId ON IssueComments (IssueId, FieldName);

CREATE TABLE IssueAttachments (
  AttachmentId INTEGER CONSTRAINT PK_IssueAttachments PRIMARY KEY AUTOINCREMENT,
  IssueId INTEGER NOT NULL,
  AttachmentMimeType VARCHAR(255) NOT NULL DEFAULT '' COLLATE NOCASE,
  AttachmentFilename VARCHAR(1024) NOT NULL DEFAULT '' COLLATE NOCASE,
  AttachmentData BLOB NULL
);
CREATE INDEX IX_IssueAttachments_IssueId ON IssueAttachments (IssueId);

CREATE TABLE ProvisionalAttachments (
  ProvisionalAttachmentId INTEGER CONSTRAINT PK_ProvisionalAttachments PRIMARY KEY AUTOINCREMENT,
  AttachmentMimeType VARCHAR(255) NOT NULL DEFAULT '' COLLATE NOCASE,
  AttachmentFilename VARCHAR(1024) NOT NULL DEFAULT '' COLLATE NOCASE,
  AttachmentData BLOB NULL
);

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames) VALUES
  ('PK_Projects', 'Projects', 'PRIMARY KEY', 'ProjectId'),
  ('UQ_Projects_ProjectCode', 'Projects', 'UNIQUE', 'ProjectCode'),
  ('PK_Users', 'Users', 'PRIMARY KEY', 'UserId'),
  ('PK_Groups', 'Groups', 'PRIMARY KEY', 'GroupCode'),
  ('PK_UserGroups', 'UserGroups', 'PRIMARY KEY', 'UserId,GroupCode'),
  ('PK_ProjectUsers', 'ProjectUsers', 'PRIMARY KEY', 'ProjectId,UserId'),
  ('PK_ProjectGroupLeads', 'ProjectGroupLeads', 'PRIMARY KEY', 'ProjectId,GroupCode'),
  ('pk_Resolutions', 'Resolutions', 'PRIMARY KEY', 'ResolutionCode'),
  ('pk_StatusCodes', 'StatusCodes', 'PRIMARY KEY', 'StatusCode'),
  ('pk_ProjectBuilds', 'ProjectBuilds', 'PRIMARY KEY', 'ProjectId,BuildCode'),
  ('PK_Issues', 'Issues', 'PRIMARY KEY', 'IssueId'),
  ('PK_IssueHistory', 'IssueHistory', 'PRIMARY KEY', 'HistoryId'),
  ('PK_IssueComments', 'IssueComments', 'PRIMARY KEY', 'CommentId'),
  ('PK_IssueAttachments', 'IssueAttachments', 'PRIMARY KEY', 'AttachmentId'),
  ('PK_ProvisionalAttachments', 'ProvisionalAttachments', 'PRIMARY KEY', 'ProvisionalAttachmentId');

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames, Definition) VALUES
  ('DF_Projects_EMailEnabled', 'Projects', 'DEFAULT', 'EMailEnabled', '1'),
  ('DF_Users_EMailEnabled', 'Users', 'DEFAULT', 'EMailEnabled', '1'),
  ('DF_Issues_Summary', 'Issues', 'DEFAULT', 'Summary', ''''''),
  ('DF_Issues_PriorityCode', 'Issues', 'DEFAULT', 'PriorityCode', ''''''),
  ('DF_Issues_SeverityCode', 'Issues', 'DEFAULT', 'SeverityCode', ''''''),
  ('DF_Issues_ModuleCode', 'Issues', 'DEFAULT', 'ModuleCode', ''''''),
  ('DF_Issues_DetectedInBuildCode', 'Issues', 'DEFAULT', 'DetectedInBuildCode', ''''''),
  ('DF_Issues_VerifiedInBuildCode', 'Issues', 'DEFAULT', 'VerifiedInBuildCode', '''''');

INSERT INTO VantrelConstraints
    (ConstraintName, TableName, ConstraintType, ColumnNames, ReferencedTable, ReferencedColumns,
     Enforcement) VALUES
  ('fk_ProjectBuilds_Projects', 'ProjectBuilds', 'FOREIGN KEY', 'ProjectId', 'Projects', 'ProjectId',
   'DECLARED'),
  -- Added to existing tables by the 1.01 step.
  ('FK_IssueHistory_NewResolutions', 'IssueHistory', 'FOREIGN KEY', 'NewResolutionCode',
   'Resolutions', 'ResolutionCode', 'TRIGGER'),
  ('FK_Issues_Resolutions', 'Issues', 'FOREIGN KEY', 'ResolutionCode', 'Resolutions',
   'ResolutionCode', 'TRIGGER'),
  -- The list fields' keys, as a custom list field gets them.
  ('fk_ProjectBuilds_DetectedInBuildCode', 'Issues', 'FOREIGN KEY', 'ProjectId,DetectedInBuildCode',
   'ProjectBuilds', 'ProjectId,BuildCode', 'TRIGGER'),
  ('fk_ProjectBuilds_VerifiedInBuildCode', 'Issues', 'FOREIGN KEY', 'ProjectId,VerifiedInBuildCode',
   'ProjectBuilds', 'ProjectId,BuildCode', 'TRIGGER');

-- The first rows of a new site: code tables, issue fields, the entry form, the groups, the site
-- workflow, the site record and the backup settings. The site administrator, the per-site secret
-- and the e-mail rows are added beside these.

-- Code values. Every code table holds the blank value ''; the workflow's issue-create state uses
-- the blank resolution and status, which no issue ever has.
INSERT INTO Resolutions (ResolutionCode, SortOrder) VALUES
  ('', 1),
  ('New', 2),
  ('Fixed', 3),
  ('Will not fix', 4),
  ('Duplicate', 5),
  ('Not reproducible', 6);

-- "Open" marks an open issue; every other status counts as closed.
INSERT INTO StatusCodes (StatusCode, SortOrder) VALUES
  ('', 1),
  ('Open', 2),
  ('Closed', 3);

INSERT INTO Priorities (PriorityCode, SortOrder) VALUES
  ('', 1),
  ('Urgent', 2),
  ('High', 3),
  ('Normal', 4),
  ('Low', 5);

INSERT INTO Severities (SeverityCode, SortOrder) VALUES
  ('', 1),
  ('Critical', 2),
  ('Major', 3),
  ('Minor', 4),
  ('Cosmetic', 5);

INSERT INTO IssueCodeTables (TableName, TableFriendlyName, TableFriendlyNameSingular,
                             VariesByProject, TablePurpose, TableFieldName, NaturalSort,
                             TableSortByFieldName, TableDefaultSortOrder) VALUES
  ('Priorities', 'Priorities', 'Priority', 0, 'How soon an issue should be dealt with.',
   'PriorityCode', 0, 'Priorities.SortOrder', 'ASC'),
  ('ProjectBuilds', 'Builds', 'Build', 1,
   'The builds of a project, in the order they were made; issues are detected and verified in them.',
   'BuildCode', 0, 'ProjectBuilds.SortOrder', 'ASC'),
  ('ProjectModules', 'Modules', 'Module', 1, 'The parts of a project an issue can concern.',
   'ModuleCode', 1, 'ProjectModules.ModuleCode', 'ASC'),
  -- The list behind the project field; projects are kept by their own pages, never as codes.
  ('Projects', 'Projects', 'Project', 0, 'The projects of the site.',
   'ProjectCode', 0, 'Projects.ProjectCode', 'ASC'),
  ('ProjectUsers', 'Project members', 'Project member', 1,
   'The members of a project: the users an issue can be assigned to.',
   'UserId', 1, 'ProjectUsers.UserId', 'ASC'),
  ('Resolutions', 'Resolutions', 'Resolution', 0,
   'What has been decided about an issue; with the status it makes the issue''s workflow state.',
   'ResolutionCode', 0, 'Resolutions.SortOrder', 'ASC'),
  ('Severities', 'Severities', 'Severity', 0, 'How badly an issue affects the users.',
   'SeverityCode', 0, 'Severities.SortOrder', 'ASC'),
  ('StatusCodes', 'Status codes', 'Status code', 0,
   'Open marks an open issue; every other status counts as closed.',
   'StatusCode', 0, 'StatusCodes.SortOrder', 'ASC');

-- The built-in issue fields. ResolutionCode, StatusCode, AssignedToUser and CreatedByUserId are
-- written by the issue pages themselves and never stand on the entry form; IssueId and the dates
-- are read-only fields for issue lists and filters.
INSERT INTO IssueFields (FieldName, FieldFriendlyName, TooltipForFilter, Representation, NumLines,
                         TextMaxLength, TableName, DataEntryField, FilterFieldName,
                         FilterFqFieldName, FilterFieldType) VALUES
  ('', '', '', '', 0, 0, '', 0, '', '', -1),
  ('IssueId', 'Issue number', 'The number the issue received when it was created.', 'number',
   0, 0, '', 0, 'IssueId', 'Issues.IssueId', 2),
  ('ProjectCode', 'Project', 'The project the issue belongs to.', 'combo',
   0, 0, 'Projects', 1, 'ProjectCode', 'Projects.ProjectCode', 4),
  ('Summary', 'Summary', 'A one-line description of the issue.', 'text',
   1, 255, '', 1, 'Summary', 'Issues.Summary', 0),
  ('AssignedToUser', 'Assigned to', 'The user who has the issue now.', 'combo',
   0, 0, 'ProjectUsers', 0, 'AssignedToUser', 'Issues.AssignedToUser', 6),
  ('ResolutionCode', 'Resolution', 'What has been decided about the issue.', 'combo',
   0, 0, 'Resolutions', 0, 'ResolutionCode', 'Issues.ResolutionCode', 4),
  ('StatusCode', 'Status', 'Open, or the way the issue was closed.', 'combo',
   0, 0, 'StatusCodes', 0, 'StatusCode', 'Issues.StatusCode', 4),
  ('CreatedByUserId', 'Created by', 'The user who reported the issue.', 'combo',
   0, 0, 'ProjectUsers', 0, 'CreatedByUserId', 'Issues.CreatedByUserId', 6),
  ('PriorityCode', 'Priority', 'How soon the issue should be dealt with.', 'combo',
   0, 0, 'Priorities', 1, 'PriorityCode', 'Issues.PriorityCode', 4),
  ('SeverityCode', 'Severity', 'How badly the issue affects the users.', 'combo',
   0, 0, 'Severities', 1, 'SeverityCode', 'Issues.SeverityCode', 4),
  ('ModuleCode', 'Module', 'The part of the project the issue concerns.', 'combo',
   0, 0, 'ProjectModules', 1, 'ModuleCode', 'Issues.ModuleCode', 6),
  ('DetectedInBuildCode', 'Detected in build', 'The build in which the issue was found.', 'combo',
   0, 0, 'ProjectBuilds', 1, 'DetectedInBuildCode', 'Issues.DetectedInBuildCode', 6),
  ('VerifiedInBuildCode', 'Verified in build', 'The build in which the fix was verified.', 'combo',
   0, 0, 'ProjectBuilds', 1, 'VerifiedInBuildCode', 'Issues.VerifiedInBuildCode', 6),
  ('Comments', 'Comments', 'The comments written on the issue, newest first.', 'comments',
   6, 4000, '', 1, 'Comments', 'Issues.Comments', 5),
  ('DateOpened', 'Date opened', 'The day the issue was created.', 'date',
   0, 0, '', 0, 'DateOpened', 'Issues.DateOpened', 3),
  ('DateClosed', 'Date closed', 'The day the issue was first closed.', 'date',
   0, 0, '', 0, 'DateClosed', 'Issues.DateClosed', 3),
  ('DateLastUpdated', 'Date last updated', 'The day of the last change of the issue.', 'date',
   0, 0, '', 0, 'DateLastUpdated', 'Issues.DateLastUpdated', 3);

-- The issue entry form (layout 1) and its older row-and-column description.
INSERT INTO DataEntryLayouts (LayoutId, LayoutName, NumRows) VALUES (1, 'Issue entry form', 5);
INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES
  (1, 1, 1, 'ProjectCode'),
  (1, 1, 2, 'ModuleCode'),
  (1, 2, 1, 'Summary'),
  (1, 3, 1, 'PriorityCode'),
  (1, 3, 2, 'SeverityCode'),
  (1, 4, 1, 'DetectedInBuildCode'),
  (1, 4, 2, 'VerifiedInBuildCode'),
  (1, 5, 1, 'Comments');
INSERT INTO EntryFormRows (RowNumber, NumColumns)
  SELECT RowNumber, count(*) FROM DataEntryLayoutFields WHERE LayoutId = 1 GROUP BY RowNumber;
INSERT INTO EntryFormFields (RowNumber, ColumnNumber, FieldName)
  SELECT RowNumber, DisplayOrder, FieldName FROM DataEntryLayoutFields WHERE LayoutId = 1;

-- The roles of the workflow. Public users take the place of Customers in public projects.
INSERT INTO Groups (GroupCode) VALUES ('Developers'), ('Testers'), ('Customers');

-- The site workflow: a new issue is opened for a developer, fixed and handed to a tester, who
-- verifies and closes it or rejects the fix; an issue can also be closed as not to be fixed, a
-- duplicate or not reproducible (back to its creator), and every closed issue can be reopened.
-- Diagram positions are in twips (15 to a pixel), as the editor's canvas keeps them.
INSERT INTO Workflows (WorkflowId, SiteDefault, Version) VALUES (1, 1, 1);

INSERT INTO WorkflowStates (StateId, WorkflowId, StateName, StateType, ResolutionCode, StatusCode,
                            IssueValid, IssueFixed, DiagramTop, DiagramLeft, DiagramWidth,
                            DiagramHeight) VALUES
  (1, 1, 'Issue Create', 1, '', '', 0, 0, 300, 3750, 1800, 750),
  (2, 1, 'New', 0, 'New', 'Open', 1, 0, 1950, 3750, 1800, 750),
  (3, 1, 'Fixed', 0, 'Fixed', 'Open', 1, 1, 3750, 900, 1800, 750),
  (4, 1, 'Fixed - Closed', 0, 'Fixed', 'Closed', 1, 1, 5550, 900, 1800, 750),
  (5, 1, 'Will not fix - Closed', 0, 'Will not fix', 'Closed', 1, 0, 3750, 6600, 2400, 750),
  (6, 1, 'Duplicate - Closed', 0, 'Duplicate', 'Closed', 0, 0, 4950, 6600, 2400, 750),
  (7, 1, 'Not reproducible - Closed', 0, 'Not reproducible', 'Closed', 0, 0, 6150, 6600, 2400, 750);

INSERT INTO WorkflowStateGroups (StateId, GroupCode) VALUES
  (1, 'Developers'), (1, 'Testers'), (1, 'Customers');

INSERT INTO WorkflowStateValidations (StateId, FieldName) VALUES (2, 'Summary');

-- ActionType 0: stays with its assignee; 1: back to the creator; 2: to a member of the assignment
-- groups, or automatically to the project's lead of GroupCode. An action from a state to itself
-- is the state's reassignment rule.
INSERT INTO WorkflowActions (ActionId, WorkflowId, ActionType, FromStateId, ToStateId, LineType,
                             ActionName, AllowAutomatic, GroupCode) VALUES
  (1, 1, 2, 1, 2, 0, 'Create', 1, 'Developers'),
  (2, 1, 2, 2, 2, 0, '', 0, ''),
  (3, 1, 2, 2, 3, 0, 'Fix', 1, 'Testers'),
  (4, 1, 0, 3, 4, 0, 'Verify', 0, ''),
  (5, 1, 2, 3, 2, 0, 'Reject fix', 1, 'Developers'),
  (6, 1, 2, 3, 3, 0, '', 0, ''),
  (7, 1, 1, 2, 5, 0, 'Will not fix', 0, ''),
  (8, 1, 1, 2, 6, 0, 'Duplicate', 0, ''),
  (9, 1, 1, 2, 7, 0, 'Not reproducible', 0, ''),
  (10, 1, 2, 4, 2, 0, 'Reopen', 1, 'Developers'),
  (11, 1, 2, 5, 2, 0, 'Reopen', 1, 'Developers'),
  (12, 1, 2, 6, 2, 0, 'Reopen', 1, 'Developers'),
  (13, 1, 2, 7, 2, 0, 'Reopen', 1, 'Developers');

-- A bend on the way back of each action that has one the other way, so the two lines stand apart.
INSERT INTO WorkflowActionPts (ActionId, x, y) VALUES
  (5, 3465, 3605), (11, 6448, 2834), (12, 6535, 3499), (13, 6585, 4155);

INSERT INTO WorkflowActionAssignments (ActionId, GroupCode) VALUES
  (1, 'Developers'),
  (2, 'Developers'),
  (3, 'Testers'),
  (5, 'Developers'),
  (6, 'Testers'),
  (10, 'Developers'),
  (11, 'Developers'),
  (12, 'Developers'),
  (13, 'Developers');

-- The site record at the current schema version.
INSERT INTO VantrelSite (DatabaseVersion, LastUpdated, WebSiteURL)
  VALUES (1.11, strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), '');

-- Backups are off until an administrator chooses a folder.
INSERT INTO SiteBackups (BackupDatabase, BackupFrequency, BackupTime, BackupArchive, ExpireBackups,
                         BackupRetention) VALUES (0, 'Day', '02:00', '', 0, '2 Weeks');
INSERT INTO SiteBackupFrequencyCodes (BackupFrequency) VALUES
  ('Day'), ('2 Days'), ('3 Days'), ('4 Days'), ('5 Days'), ('6 Days'), ('7 Days');
INSERT INTO SiteBackupTimes (BackupTime) VALUES
  ('00:00'), ('01:00'), ('02:00'), ('03:00'), ('04:00'), ('05:00'), ('06:00'), ('07:00'),
  ('08:00'), ('09:00'), ('10:00'), ('11:00'), ('12:00'), ('13:00'), ('14:00'), ('15:00'),
  ('16:00'), ('17:00'), ('18:00'), ('19:00'), ('20:00'), ('21:00'), ('22:00'), ('23:00'),
  ('24:00');
INSERT INTO SiteBackupRetentionCodes (BackupRetention) VALUES
  ('1 Week'), ('2 Weeks'), ('3 Weeks'), ('4 Weeks'), ('5 Weeks'), ('6 Weeks'), ('7 Weeks'),
  ('8 Weeks');

-- A demo project with a few users and issues in different states of the site workflow, so that a
-- newcomer sees something real. Run on a new site after its first rows. The users are inserted
-- with an empty password; the program that runs this file gives them their password hash and
-- their default issue-list layout, and makes the site administrator a member of the project.

INSERT INTO Projects (ProjectId, ProjectCode, ProjectDescription, PublicAccessible,
                      PublicMembersOfGroupCode, EMailEnabled, WorkflowId)
  VALUES (1, 'Demo', 'A project to try the tracker with. Its issues show the states of the site workflow; delete it when you no longer need it.',
          1, 'Customers', 1, 1);

INSERT OR IGNORE INTO Users (UserId, UserName, UserEMail, Password, SiteAdministrator, PublicUser,
                             EMailEnabled, DefaultFilter) VALUES
  ('alice', 'Alice Archer', 'alice@example.com', '', 0, 0, 1, 's:alice'),
  ('bob', 'Bob Baker', 'bob@example.com', '', 0, 0, 1, 's:bob'),
  ('carol', 'Carol Cooper', 'carol@example.com', '', 0, 0, 1, 's:carol'),
  ('dave', 'Dave Dunn', 'dave@example.com', '', 0, 1, 1, 's:dave');

INSERT OR IGNORE INTO UserGroups (UserId, GroupCode) VALUES
  ('alice', 'Developers'), ('bob', 'Developers'), ('carol', 'Testers');

INSERT OR IGNORE INTO ProjectUsers (ProjectId, UserId, ProjectAdministrator, OverrideWorkflow) VALUES
  (1, 'alice', 1, 0), (1, 'bob', 0, 0), (1, 'carol', 0, 0);

INSERT INTO ProjectGroupLeads (ProjectId, UserId, GroupCode) VALUES
  (1, 'alice', 'Developers'), (1, 'carol', 'Testers');

-- The blank value of every per-project code table, as a new project gets it, and a few more.
INSERT INTO ProjectBuilds (ProjectId, BuildCode, SortOrder) VALUES
  (1, '', 1), (1, '1.0', 2), (1, '1.1', 3), (1, '2.0', 4);
INSERT INTO ProjectModules (ProjectId, ModuleCode) VALUES
  (1, ''), (1, 'Core'), (1, 'Documentation'), (1, 'User interface');

INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId,
                    DateOpened, DateClosed, DateTimeClosed, DateLastUpdated, DateTimeLastUpdated,
                    Valid, Fixed, Summary, PriorityCode, SeverityCode, ModuleCode,
                    DetectedInBuildCode, VerifiedInBuildCode) VALUES
  (1, 1, 'alice', 'New', 'Open', 'carol',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-2 days'), NULL, NULL,
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-2 days'), NULL,
   1, 0, 'The login page refuses passwords that contain a blank', 'High', 'Major', 'Core', '1.1', ''),
  (2, 1, 'carol', 'Fixed', 'Open', 'carol',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-9 days'), NULL, NULL,
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-1 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-1 days'),
   1, 1, 'Saving an empty filter ends with an error page', 'Urgent', 'Critical', 'Core', '1.0', ''),
  (3, 1, 'carol', 'Fixed', 'Closed', 'dave',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-20 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-6 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-6 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-6 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-6 days'),
   1, 1, 'Typo in the installation guide: "databse"', 'Low', 'Cosmetic', 'Documentation', '1.0',
   '1.1'),
  (4, 1, 'dave', 'Will not fix', 'Closed', 'dave',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-15 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-13 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-13 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-13 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-13 days'),
   1, 0, 'Offer a dark colour scheme', 'Low', 'Minor', 'User interface', '1.0', ''),
  (5, 1, 'bob', 'New', 'Open', 'alice',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-4 days'), NULL, NULL,
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-4 days'), NULL,
   1, 0, 'The issue list sorts dates as text', 'Normal', 'Minor', 'User interface', '1.1', ''),
  (6, 1, 'dave', 'Duplicate', 'Closed', 'dave',
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-8 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-7 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-7 days'),
   strftime('%Y-%m-%d 00:00:00.000', 'now', 'localtime', '-7 days'),
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-7 days'),
   0, 0, 'Error page after saving a filter without criteria', 'Normal', 'Major', 'Core', '1.0', '');

-- One row per change, the creation included (whose Old columns stay '').
INSERT INTO IssueHistory (IssueId, ProjectId, UserId, CreatedOn, OldResolutionCode, OldStatusCode,
                          OldAssignedToUser, NewResolutionCode, NewStatusCode, NewAssignedToUser)
  VALUES
  (1, 1, 'carol', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-2 days'), '', '', '',
   'New', 'Open', 'alice'),
  (2, 1, 'carol', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-9 days'), '', '', '',
   'New', 'Open', 'alice'),
  (2, 1, 'alice', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-1 days'), 'New', 'Open',
   'alice', 'Fixed', 'Open', 'carol'),
  (3, 1, 'dave', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-20 days'), '', '', '',
   'New', 'Open', 'bob'),
  (3, 1, 'bob', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-10 days'), 'New', 'Open',
   'bob', 'Fixed', 'Open', 'carol'),
  (3, 1, 'carol', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-6 days'), 'Fixed', 'Open',
   'carol', 'Fixed', 'Closed', 'carol'),
  (4, 1, 'dave', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-15 days'), '', '', '',
   'New', 'Open', 'alice'),
  (4, 1, 'alice', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-13 days'), 'New', 'Open',
   'alice', 'Will not fix', 'Closed', 'dave'),
  (5, 1, 'alice', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-4 days'), '', '', '',
   'New', 'Open', 'bob'),
  (6, 1, 'dave', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-8 days'), '', '', '',
   'New', 'Open', 'alice'),
  (6, 1, 'alice', strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-7 days'), 'New', 'Open',
   'alice', 'Duplicate', 'Closed', 'dave');

INSERT INTO IssueComments (IssueId, FieldName, CommentAuthor, CommentText, CommentCreatedOn) VALUES
  (1, 'Comments', 'carol',
   'A password such as "open sesame" is refused with "Invalid user id or password.", although the same password works on the sign-up page.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-2 days')),
  (2, 'Comments', 'carol',
   'Open the search page, choose "New filter" and save it without adding a criterion.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-9 days')),
  (2, 'Comments', 'alice',
   'An empty filter is now refused with a message. Please verify in the next build.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-1 days')),
  (3, 'Comments', 'carol', 'Corrected in the guide of build 1.1.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-6 days')),
  (4, 'Comments', 'alice', 'Not planned: the pages follow the colours of the browser.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-13 days')),
  (6, 'Comments', 'alice', 'Same problem as issue 2.',
   strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime', '-7 days'));

-- A saved filter, as the query wizard writes one.
INSERT OR IGNORE INTO SummaryFilters (UserId, FilterName, AdvancedFilter, FilterExpression,
                                      fqFilterExpression) VALUES
  ('alice', 'Urgent issues', 0, 'is_(exactly) PriorityCode "Urgent"' || char(13) || char(10),
   'Issues.PriorityCode = ''Urgent''' || char(13) || char(10));

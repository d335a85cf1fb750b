-- The issue form (issue fields, code tables, layouts, saved filters) and the workflow.

-- One row per issue field. Representation is 'text', 'multiline', 'combo', 'checkbox' or
-- 'comments' for the fields of the entry form; the installed read-only fields carry others
-- ('number', 'date'), and the empty-cell entry (FieldName '') carries ''.
CREATE TABLE IssueFields (
  FieldName VARCHAR(20) NOT NULL COLLATE NOCASE CONSTRAINT PK_IssueFields PRIMARY KEY,
  FieldFriendlyName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  TooltipForFilter VARCHAR(200) NOT NULL DEFAULT '' COLLATE NOCASE,
  Representation VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE,
  NumLines INTEGER NOT NULL DEFAULT 0,
  TextMaxLength INTEGER NOT NULL DEFAULT 0,
  TableName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  DataEntryField BIT NOT NULL DEFAULT 0,
  FilterFieldName VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE,
  FilterFqFieldName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  FilterFieldType INTEGER NOT NULL DEFAULT 0,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

-- One row per code table. TableSortByFieldName holds up to a 40-character table name, a point
-- and a 50-character column name.
CREATE TABLE IssueCodeTables (
  TableName VARCHAR(40) NOT NULL COLLATE NOCASE CONSTRAINT PK_IssueCodeTables PRIMARY KEY,
  TableFriendlyName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  TableFriendlyNameSingular VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  VariesByProject BIT NOT NULL DEFAULT 0,
  TablePurpose VARCHAR(200) NOT NULL DEFAULT '' COLLATE NOCASE,
  TableFieldName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  NaturalSort BIT NOT NULL DEFAULT 1,
  TableSortByFieldName VARCHAR(100) NOT NULL DEFAULT '' COLLATE NOCASE,
  TableDefaultSortOrder VARCHAR(10) NOT NULL DEFAULT 'ASC' COLLATE NOCASE,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

-- The installed code tables of the list fields PriorityCode, SeverityCode and ModuleCode.
CREATE TABLE Priorities (
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  PriorityCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT pk_Priorities PRIMARY KEY,
  SortOrder INTEGER NOT NULL
);
-- Lists sorted by priority walk the priorities in order (unique: the code is).
CREATE UNIQUE INDEX IX_Priorities_SortOrder ON Priorities (SortOrder, PriorityCode);

CREATE TABLE Severities (
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  SeverityCode VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT pk_Severities PRIMARY KEY,
  SortOrder INTEGER NOT NULL
);

CREATE TABLE ProjectModules (
  ProjectId INTEGER NOT NULL
    CONSTRAINT fk_ProjectModules_Projects REFERENCES Projects (ProjectId),
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  ModuleCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  CONSTRAINT pk_ProjectModules PRIMARY KEY (ProjectId, ModuleCode)
);

CREATE TABLE SummaryLayouts (
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  LayoutName VARCHAR(50) NOT NULL COLLATE NOCASE,
  NumRows INTEGER NOT NULL DEFAULT 1,
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  CONSTRAINT PK_SummaryLayouts PRIMARY KEY (UserId, LayoutName)
);

CREATE TABLE SummaryLayoutFields (
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  LayoutName VARCHAR(50) NOT NULL COLLATE NOCASE,
  RowNumber INTEGER NOT NULL,
  DisplayOrder INTEGER NOT NULL,
  FieldName VARCHAR(20) NOT NULL COLLATE NOCASE
);
CREATE INDEX IX_SummaryLayoutFields_Layout ON SummaryLayoutFields (UserId, LayoutName, RowNumber);
CREATE INDEX IX_SummaryLayoutFields_FieldName ON SummaryLayoutFields (FieldName);

CREATE TABLE SummaryFilters (
  UserId VARCHAR(50) NOT NULL COLLATE NOCASE,
  FilterName VARCHAR(50) NOT NULL COLLATE NOCASE,
  AdvancedFilter BIT NOT NULL DEFAULT 0,
  FilterExpression VARCHAR(4000) NOT NULL DEFAULT '' COLLATE NOCASE,
  fqFilterExpression VARCHAR(4000) NOT NULL DEFAULT '' COLLATE NOCASE,
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  CONSTRAINT PK_SummaryFilters PRIMARY KEY (UserId, FilterName)
);

CREATE TABLE DataEntryLayouts (
  LayoutId INTEGER NOT NULL CONSTRAINT PK_DataEntryLayouts PRIMARY KEY,
  LayoutName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  NumRows INTEGER NOT NULL DEFAULT 0,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE DataEntryLayoutFields (
  LayoutId INTEGER NOT NULL,
  RowNumber INTEGER NOT NULL,
  DisplayOrder INTEGER NOT NULL,
  FieldName VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE
);
CREATE INDEX IX_DataEntryLayoutFields_Layout ON DataEntryLayoutFields (LayoutId, RowNumber);

-- The older description of the entry form by rows and columns; read only.
CREATE TABLE EntryFormRows (
  RowNumber INTEGER NOT NULL CONSTRAINT PK_EntryFormRows PRIMARY KEY,
  NumColumns INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE EntryFormFields (
  RowNumber INTEGER NOT NULL,
  ColumnNumber INTEGER NOT NULL,
  FieldName VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE,
  CONSTRAINT PK_EntryFormFields PRIMARY KEY (RowNumber, ColumnNumber)
);

CREATE TABLE Workflows (
  WorkflowId INTEGER NOT NULL CONSTRAINT PK_Workflows PRIMARY KEY,
  SiteDefault BIT NOT NULL DEFAULT 0,
  Version INTEGER NOT NULL DEFAULT 1,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

-- A state is a (ResolutionCode, StatusCode) pair; StateType 1 marks the issue-create state. The
-- diagram box is in single-precision units of the diagram editor.
CREATE TABLE WorkflowStates (
  StateId INTEGER CONSTRAINT PK_WorkflowStates PRIMARY KEY AUTOINCREMENT,
  WorkflowId INTEGER NOT NULL,
  StateName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  StateType INTEGER NOT NULL DEFAULT 0,
  ResolutionCode VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  StatusCode VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE,
  IssueValid BIT NOT NULL DEFAULT 0,
  IssueFixed BIT NOT NULL DEFAULT 0,
  DiagramTop REAL NOT NULL DEFAULT 0,
  DiagramLeft REAL NOT NULL DEFAULT 0,
  DiagramWidth REAL NOT NULL DEFAULT 0,
  DiagramHeight REAL NOT NULL DEFAULT 0
);
CREATE INDEX IX_WorkflowStates_Codes ON WorkflowStates (ResolutionCode, StatusCode);
CREATE INDEX IX_WorkflowStates_WorkflowId ON WorkflowStates (WorkflowId);

CREATE TABLE WorkflowActions (
  ActionId INTEGER CONSTRAINT PK_WorkflowActions PRIMARY KEY AUTOINCREMENT,
  WorkflowId INTEGER NOT NULL,
  ActionType INTEGER NOT NULL DEFAULT 0,
  FromStateId INTEGER NOT NULL,
  ToStateId INTEGER NOT NULL,
  LineType INTEGER NOT NULL DEFAULT 0,
  ActionName VARCHAR(50) NOT NULL DEFAULT '' COLLATE NOCASE,
  AllowAutomatic BIT NOT NULL DEFAULT 0,
  GroupCode VARCHAR(20) NOT NULL DEFAULT '' COLLATE NOCASE
);
CREATE INDEX IX_WorkflowActions_FromStateId ON WorkflowActions (FromStateId);
CREATE INDEX IX_WorkflowActions_ToStateId ON WorkflowActions (ToStateId);
CREATE INDEX IX_WorkflowActions_WorkflowId ON WorkflowActions (WorkflowId);

-- Bend points; nothing orders the points of one action but their insertion.
CREATE TABLE WorkflowActionPts (
  ActionId INTEGER NOT NULL,
  x REAL NOT NULL,
  y REAL NOT NULL
);
CREATE INDEX IX_WorkflowActionPts_ActionId ON WorkflowActionPts (ActionId);

CREATE TABLE WorkflowActionAssignments (
  ActionId INTEGER NOT NULL,
  GroupCode VARCHAR(20) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_WorkflowActionAssignments PRIMARY KEY (ActionId, GroupCode)
);

CREATE TABLE WorkflowStateValidations (
  StateId INTEGER NOT NULL,
  FieldName VARCHAR(20) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_WorkflowStateValidations PRIMARY KEY (StateId, FieldName)
);
CREATE INDEX IX_WorkflowStateValidations_FieldName ON WorkflowStateValidations (FieldName);

CREATE TABLE WorkflowStateGroups (
  StateId INTEGER NOT NULL,
  GroupCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_WorkflowStateGroups PRIMARY KEY (StateId, GroupCode)
);

CREATE TABLE WorkflowStateTeamLeads (
  StateId INTEGER NOT NULL,
  GroupCode VARCHAR(50) NOT NULL COLLATE NOCASE,
  CONSTRAINT PK_WorkflowStateTeamLeads PRIMARY KEY (StateId, GroupCode)
);

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames) VALUES
  ('PK_IssueFields', 'IssueFields', 'PRIMARY KEY', 'FieldName'),
  ('PK_IssueCodeTables', 'IssueCodeTables', 'PRIMARY KEY', 'TableName'),
  ('pk_Priorities', 'Priorities', 'PRIMARY KEY', 'PriorityCode'),
  ('pk_Severities', 'Severities', 'PRIMARY KEY', 'SeverityCode'),
  ('pk_ProjectModules', 'ProjectModules', 'PRIMARY KEY', 'ProjectId,ModuleCode'),
  ('PK_SummaryLayouts', 'SummaryLayouts', 'PRIMARY KEY', 'UserId,LayoutName'),
  ('PK_SummaryFilters', 'SummaryFilters', 'PRIMARY KEY', 'UserId,FilterName'),
  ('PK_DataEntryLayouts', 'DataEntryLayouts', 'PRIMARY KEY', 'LayoutId'),
  ('PK_EntryFormRows', 'EntryFormRows', 'PRIMARY KEY', 'RowNumber'),
  ('PK_EntryFormFields', 'EntryFormFields', 'PRIMARY KEY', 'RowNumber,ColumnNumber'),
  ('PK_Workflows', 'Workflows', 'PRIMARY KEY', 'WorkflowId'),
  ('PK_WorkflowStates', 'WorkflowStates', 'PRIMARY KEY', 'StateId'),
  ('PK_WorkflowActions', 'WorkflowActions', 'PRIMARY KEY', 'ActionId'),
  ('PK_WorkflowActionAssignments', 'WorkflowActionAssignments', 'PRIMARY KEY', 'ActionId,GroupCode'),
  ('PK_WorkflowStateValidations', 'WorkflowStateValidations', 'PRIMARY KEY', 'StateId,FieldName'),
  ('PK_WorkflowStateGroups', 'WorkflowStateGroups', 'PRIMARY KEY', 'StateId,GroupCode'),
  ('PK_WorkflowStateTeamLeads', 'WorkflowStateTeamLeads', 'PRIMARY KEY', 'StateId,GroupCode');

INSERT INTO VantrelConstraints
    (ConstraintName, TableName, ConstraintType, ColumnNames, ReferencedTable, ReferencedColumns,
     Enforcement) VALUES
  ('fk_ProjectModules_Projects', 'ProjectModules', 'FOREIGN KEY', 'ProjectId', 'Projects',
   'ProjectId', 'DECLARED'),
  ('fk_Priorities_PriorityCode', 'Issues', 'FOREIGN KEY', 'PriorityCode', 'Priorities',
   'PriorityCode', 'TRIGGER'),
  ('fk_Severities_SeverityCode', 'Issues', 'FOREIGN KEY', 'SeverityCode', 'Severities',
   'SeverityCode', 'TRIGGER'),
  ('fk_ProjectModules_ModuleCode', 'Issues', 'FOREIGN KEY', 'ProjectId,ModuleCode', 'ProjectModules',
   'ProjectId,ModuleCode', 'TRIGGER');

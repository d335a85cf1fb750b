-- The e-mail tables, as the 1.10 version step creates them (in its order, which satisfies the
-- foreign keys) with the column the 1.11 step adds. A site created new and a site brought up by
-- the version steps have the same tables.
--
-- EMailNotifications.StatusCode is declared char(7), but nothing pads it: 'Sent' and 'Failed' are
-- stored as written, so they compare equal to 'Sent' and 'Failed'.

CREATE TABLE EMailConfiguration (
  EMailConfigurationId INTEGER CONSTRAINT PK_EMailConfiguration PRIMARY KEY AUTOINCREMENT,
  EMailEnabled BIT NOT NULL CONSTRAINT DF_EMailConfiguration_EMailEnabled DEFAULT 1,
  SmtpHost VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailConfiguration_SmtpHost DEFAULT '',
  SmtpPort INTEGER NOT NULL CONSTRAINT DF_EMailConfiguration_SmtpPort DEFAULT 25,
  SendTimeout INTEGER NOT NULL CONSTRAINT DF_EMailConfiguration_SendTimeout DEFAULT 5,
  FromEMailAddress VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailConfiguration_FromEMailAddress DEFAULT '',
  ServerLoginRequired BIT NOT NULL CONSTRAINT DF_EMailConfiguration_ServerLoginRequired DEFAULT 1,
  SmtpUserId VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailConfiguration_SmtpUserId DEFAULT '',
  SmtpPassword VARCHAR(50) NOT NULL CONSTRAINT DF_EMailConfiguration_SmtpPassword DEFAULT '',
  MaximumDeliveryAttempts INTEGER NOT NULL
    CONSTRAINT DF_EMailConfiguration_MaximumDeliveryAttempts DEFAULT 5,
  DeliveryFrequency INTEGER NOT NULL CONSTRAINT DF_EMailConfiguration_DeliveryFrequency DEFAULT 300,
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  WebSiteURL VARCHAR(100) NOT NULL COLLATE NOCASE CONSTRAINT DF_VantrelSite_WebSiteURL DEFAULT ''
);

CREATE TABLE EMailContentTransferCharsets (
  ContentTypeCharset VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT PK_EMailContentTransferCharsets PRIMARY KEY,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE EMailContentTransferEncodings (
  ContentTransferEncoding VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_ContentTransferEncodings_ContentTransferEncoding DEFAULT ''
    CONSTRAINT PK_ContentTransferEncodings PRIMARY KEY,
  EncodingDescription VARCHAR(1024) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailContentTransferEncodings_Description DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE EMailDeliveryFrequency (
  Frequency INTEGER NOT NULL CONSTRAINT PK_EMailDeliveryFrequency PRIMARY KEY,
  FrequencyName VARCHAR(25) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailDeliveryFrequency_FrequencyName DEFAULT ''
);

CREATE TABLE EMailNotificationEventTypes (
  NotificationEventType INTEGER NOT NULL
    CONSTRAINT DF_EMailNotificationEventTypes_NotificationEventType DEFAULT 0
    CONSTRAINT PK_EMailNotificationEventTypes PRIMARY KEY,
  NotificationEventTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotificationEventTypes_NotificationEventTypeName DEFAULT ''
);

CREATE TABLE EMailRecipientTypes (
  RecipientType INTEGER NOT NULL CONSTRAINT DF_EMailRecipientTypes_RecipientType DEFAULT 0
    CONSTRAINT PK_EMailRecipientTypes PRIMARY KEY,
  RecipientTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailRecipientTypes_RecipientTypeName DEFAULT ''
);

CREATE TABLE EMailTemplateTypes (
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTemplateType_MessageTemplateTypeName DEFAULT ''
    CONSTRAINT PK_MessageTemplateType PRIMARY KEY,
  Multipart BIT NOT NULL CONSTRAINT DF_MessageTemplateType_Multipart DEFAULT 0,
  MultipartContentType VARCHAR(50) NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTemplateType_ContentType DEFAULT '',
  MultipartContentTypeSubtype VARCHAR(50) NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTemplateType_ContentTypeSubtype DEFAULT '',
  MultipartContentTypeAdditionalParameters VARCHAR(256) NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTemplateType_ContentTypeAdditionalParameters DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE EMailTestResults (
  TestResultId INTEGER CONSTRAINT PK_EMailTestResults PRIMARY KEY AUTOINCREMENT,
  TestResult VARCHAR(1024) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailTestResults_TestResult DEFAULT ''
);

CREATE TABLE EMailTemplates (
  TemplateName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailMessageTemplate_TemplateName DEFAULT ''
    CONSTRAINT PK_EMailTemplates PRIMARY KEY,
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailMessageTemplate_MessageFormatName DEFAULT ''
    CONSTRAINT FK_EMailMessageTemplate_MessageTemplateType
      REFERENCES EMailTemplateTypes (TemplateTypeName),
  Subject VARCHAR(256) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailMessageTemplate_Subject DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE EMailTemplateTypeHeaders (
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageFormatHeaders_MessageFormatName DEFAULT ''
    CONSTRAINT FK_MessageFormatHeaders_MessageTemplateType
      REFERENCES EMailTemplateTypes (TemplateTypeName),
  HeaderFieldName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageFormatHeaders_HeaderFieldName DEFAULT '',
  HeaderFieldValue VARCHAR(256) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageFormatHeaders_HeaderFieldValue DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  CONSTRAINT PK_MessageFormatHeaders PRIMARY KEY (TemplateTypeName, HeaderFieldName)
);

CREATE TABLE EMailTemplateTypeParts (
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePart_TemplateName DEFAULT ''
    CONSTRAINT FK_MessageTypePart_MessageTemplateType
      REFERENCES EMailTemplateTypes (TemplateTypeName),
  PartName VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_MessageTypePart_PartName DEFAULT '',
  PartOrder INTEGER NOT NULL CONSTRAINT DF_EMailTemplateTypePart_PartOrder DEFAULT 0,
  ContentType VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_MessageTypePart_ContentType DEFAULT '',
  ContentTypeSubtype VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePart_ContentTypeSubtype DEFAULT '',
  ContentTypeCharset VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailTemplateTypeParts_ContentTypeCharset DEFAULT ''
    CONSTRAINT FK_EMailTemplateTypeParts_EMailContentTransferCharsets
      REFERENCES EMailContentTransferCharsets (ContentTypeCharset),
  ContentTypeAdditionalParameters VARCHAR(256) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePart_ContentTypeAdditionalParameters DEFAULT '',
  ContentTransferEncoding VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePart_ContentTransferEncoding DEFAULT ''
    CONSTRAINT FK_MessageTypePart_ContentTransferEncodings
      REFERENCES EMailContentTransferEncodings (ContentTransferEncoding),
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  CONSTRAINT PK_MessageTypePart PRIMARY KEY (TemplateTypeName, PartName)
);

CREATE TABLE EMailNotificationRules (
  NotificationRuleId INTEGER CONSTRAINT PK_EMailNotificationRules PRIMARY KEY AUTOINCREMENT,
  ProjectId INTEGER NULL CONSTRAINT DF_EMailNotificationRules_ProjectId DEFAULT -1,
  NotificationRuleName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotificationRules_NotificationRuleName DEFAULT '',
  Active BIT NOT NULL CONSTRAINT DF_EMailNotificationRules_Active DEFAULT 1,
  NotificationEventType INTEGER NOT NULL
    CONSTRAINT DF_EMailNotificationRules_NotificationEventType DEFAULT 0
    CONSTRAINT FK_EMailNotificationRules_EMailNotificationEventTypes
      REFERENCES EMailNotificationEventTypes (NotificationEventType),
  WorkflowId INTEGER NULL CONSTRAINT DF_EMailNotificationRules_WorkflowId DEFAULT 0
    CONSTRAINT FK_EMailNotificationRules_Workflows REFERENCES Workflows (WorkflowId),
  ActionId INTEGER NULL CONSTRAINT DF_EMailNotificationRules_ActionId DEFAULT 0,
  -- The version step declares this default as '', an empty text the column turns into 0.
  RecipientType INTEGER NOT NULL CONSTRAINT DF_EMailNotificationRules_RecipientType DEFAULT 0
    CONSTRAINT FK_EMailNotificationRules_EMailRecipientTypes
      REFERENCES EMailRecipientTypes (RecipientType),
  RecipientAddress VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotificationRules_RecipientAddress DEFAULT '',
  TemplateName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotificationRules_TemplateName DEFAULT ''
    CONSTRAINT FK_EMailNotificationRules_EMailTemplates REFERENCES EMailTemplates (TemplateName),
  LastUpdated INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IX_EMailNotificationRules_TemplateName ON EMailNotificationRules (TemplateName);

CREATE TABLE EMailTemplateParts (
  TemplateName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailMessagePart_TemplateName1 DEFAULT ''
    CONSTRAINT FK_EMailTemplateParts_EMailTemplates REFERENCES EMailTemplates (TemplateName),
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailMessagePart_TemplateTypeName DEFAULT '',
  PartName VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailMessagePart_PartName DEFAULT '',
  PartContent VARCHAR(6000) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailMessagePart_Body DEFAULT '',
  LastUpdated INTEGER NULL,
  CONSTRAINT PK_EMailTemplateParts PRIMARY KEY (TemplateName, TemplateTypeName, PartName),
  CONSTRAINT FK_EMailTemplateParts_EMailTemplateTypeParts FOREIGN KEY (TemplateTypeName, PartName)
    REFERENCES EMailTemplateTypeParts (TemplateTypeName, PartName)
);

CREATE TABLE EMailTemplateTypePartHeaders (
  TemplateTypeName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePartHeaders_TemplateTypeName DEFAULT '',
  PartName VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_MessageTypePartHeaders_PartName DEFAULT '',
  HeaderFieldName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePartHeaders_HeaderFieldName DEFAULT '',
  HeaderFieldValue VARCHAR(256) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_MessageTypePartHeaders_HeaderFieldValue DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0,
  CONSTRAINT PK_MessageTypePartHeaders PRIMARY KEY (TemplateTypeName, PartName, HeaderFieldName),
  CONSTRAINT FK_MessageTypePartHeaders_MessageTypePart FOREIGN KEY (TemplateTypeName, PartName)
    REFERENCES EMailTemplateTypeParts (TemplateTypeName, PartName)
);

CREATE TABLE EMailNotifications (
  EMailNotificationId INTEGER CONSTRAINT PK_EMailNotifications PRIMARY KEY AUTOINCREMENT,
  EMailAddress VARCHAR(50) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailNotifications_UserId DEFAULT '',
  IssueId INTEGER NOT NULL CONSTRAINT DF_EMailNotifications_IssueId DEFAULT 0
    CONSTRAINT FK_EMailNotifications_Issues REFERENCES Issues (IssueId),
  TemplateName VARCHAR(50) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotifications_TemplateName DEFAULT ''
    CONSTRAINT FK_EMailNotifications_EMailTemplates REFERENCES EMailTemplates (TemplateName),
  StatusCode CHAR(7) NOT NULL COLLATE NOCASE CONSTRAINT DF_EMailNotifications_StatusCode DEFAULT 'Pending',
  DeliveryAttempts INTEGER NOT NULL CONSTRAINT DF_EMailNotifications_DeliveryAttempts DEFAULT 0,
  DateCompleted DATETIME NULL,
  DateTimeCompleted DATETIME NULL,
  AttemptedDeliveryErrorMsg VARCHAR(1024) NOT NULL COLLATE NOCASE
    CONSTRAINT DF_EMailNotifications_AttemptedDeliveryErrorMsg DEFAULT '',
  LastUpdated INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IX_EMailNotifications_StatusCode ON EMailNotifications (StatusCode);
CREATE INDEX IX_EMailNotifications_IssueId ON EMailNotifications (IssueId);
CREATE INDEX IX_EMailNotifications_TemplateName ON EMailNotifications (TemplateName);

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames) VALUES
  ('PK_EMailConfiguration', 'EMailConfiguration', 'PRIMARY KEY', 'EMailConfigurationId'),
  ('PK_EMailContentTransferCharsets', 'EMailContentTransferCharsets', 'PRIMARY KEY',
   'ContentTypeCharset'),
  ('PK_ContentTransferEncodings', 'EMailContentTransferEncodings', 'PRIMARY KEY',
   'ContentTransferEncoding'),
  ('PK_EMailDeliveryFrequency', 'EMailDeliveryFrequency', 'PRIMARY KEY', 'Frequency'),
  ('PK_EMailNotificationEventTypes', 'EMailNotificationEventTypes', 'PRIMARY KEY',
   'NotificationEventType'),
  ('PK_EMailRecipientTypes', 'EMailRecipientTypes', 'PRIMARY KEY', 'RecipientType'),
  ('PK_MessageTemplateType', 'EMailTemplateTypes', 'PRIMARY KEY', 'TemplateTypeName'),
  ('PK_EMailTestResults', 'EMailTestResults', 'PRIMARY KEY', 'TestResultId'),
  ('PK_EMailTemplates', 'EMailTemplates', 'PRIMARY KEY', 'TemplateName'),
  ('PK_MessageFormatHeaders', 'EMailTemplateTypeHeaders', 'PRIMARY KEY',
   'TemplateTypeName,HeaderFieldName'),
  ('PK_MessageTypePart', 'EMailTemplateTypeParts', 'PRIMARY KEY', 'TemplateTypeName,PartName'),
  ('PK_EMailNotificationRules', 'EMailNotificationRules', 'PRIMARY KEY', 'NotificationRuleId'),
  ('PK_EMailTemplateParts', 'EMailTemplateParts', 'PRIMARY KEY',
   'TemplateName,TemplateTypeName,PartName'),
  ('PK_MessageTypePartHeaders', 'EMailTemplateTypePartHeaders', 'PRIMARY KEY',
   'TemplateTypeName,PartName,HeaderFieldName'),
  ('PK_EMailNotifications', 'EMailNotifications', 'PRIMARY KEY', 'EMailNotificationId');

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames, Definition) VALUES
  ('DF_EMailConfiguration_EMailEnabled', 'EMailConfiguration', 'DEFAULT', 'EMailEnabled', '1'),
  ('DF_EMailConfiguration_SmtpHost', 'EMailConfiguration', 'DEFAULT', 'SmtpHost', ''''''),
  ('DF_EMailConfiguration_SmtpPort', 'EMailConfiguration', 'DEFAULT', 'SmtpPort', '25'),
  ('DF_EMailConfiguration_SendTimeout', 'EMailConfiguration', 'DEFAULT', 'SendTimeout', '5'),
  ('DF_EMailConfiguration_FromEMailAddress', 'EMailConfiguration', 'DEFAULT', 'FromEMailAddress',
   ''''''),
  ('DF_EMailConfiguration_ServerLoginRequired', 'EMailConfiguration', 'DEFAULT',
   'ServerLoginRequired', '1'),
  ('DF_EMailConfiguration_SmtpUserId', 'EMailConfiguration', 'DEFAULT', 'SmtpUserId', ''''''),
  ('DF_EMailConfiguration_SmtpPassword', 'EMailConfiguration', 'DEFAULT', 'SmtpPassword', ''''''),
  ('DF_EMailConfiguration_MaximumDeliveryAttempts', 'EMailConfiguration', 'DEFAULT',
   'MaximumDeliveryAttempts', '5'),
  ('DF_EMailConfiguration_DeliveryFrequency', 'EMailConfiguration', 'DEFAULT', 'DeliveryFrequency',
   '300'),
  ('DF_VantrelSite_WebSiteURL', 'EMailConfiguration', 'DEFAULT', 'WebSiteURL', ''''''),
  ('DF_ContentTransferEncodings_ContentTransferEncoding', 'EMailContentTransferEncodings',
   'DEFAULT', 'ContentTransferEncoding', ''''''),
  ('DF_EMailContentTransferEncodings_Description', 'EMailContentTransferEncodings', 'DEFAULT',
   'EncodingDescription', ''''''),
  ('DF_EMailDeliveryFrequency_FrequencyName', 'EMailDeliveryFrequency', 'DEFAULT', 'FrequencyName',
   ''''''),
  ('DF_EMailNotificationEventTypes_NotificationEventType', 'EMailNotificationEventTypes', 'DEFAULT',
   'NotificationEventType', '0'),
  ('DF_EMailNotificationEventTypes_NotificationEventTypeName', 'EMailNotificationEventTypes',
   'DEFAULT', 'NotificationEventTypeName', ''''''),
  ('DF_EMailRecipientTypes_RecipientType', 'EMailRecipientTypes', 'DEFAULT', 'RecipientType', '0'),
  ('DF_EMailRecipientTypes_RecipientTypeName', 'EMailRecipientTypes', 'DEFAULT',
   'RecipientTypeName', ''''''),
  ('DF_MessageTemplateType_MessageTemplateTypeName', 'EMailTemplateTypes', 'DEFAULT',
   'TemplateTypeName', ''''''),
  ('DF_MessageTemplateType_Multipart', 'EMailTemplateTypes', 'DEFAULT', 'Multipart', '0'),
  ('DF_MessageTemplateType_ContentType', 'EMailTemplateTypes', 'DEFAULT', 'MultipartContentType',
   ''''''),
  ('DF_MessageTemplateType_ContentTypeSubtype', 'EMailTemplateTypes', 'DEFAULT',
   'MultipartContentTypeSubtype', ''''''),
  ('DF_MessageTemplateType_ContentTypeAdditionalParameters', 'EMailTemplateTypes', 'DEFAULT',
   'MultipartContentTypeAdditionalParameters', ''''''),
  ('DF_EMailTestResults_TestResult', 'EMailTestResults', 'DEFAULT', 'TestResult', ''''''),
  ('DF_EMailMessageTemplate_TemplateName', 'EMailTemplates', 'DEFAULT', 'TemplateName', ''''''),
  ('DF_EMailMessageTemplate_MessageFormatName', 'EMailTemplates', 'DEFAULT', 'TemplateTypeName',
   ''''''),
  ('DF_EMailMessageTemplate_Subject', 'EMailTemplates', 'DEFAULT', 'Subject', ''''''),
  ('DF_MessageFormatHeaders_MessageFormatName', 'EMailTemplateTypeHeaders', 'DEFAULT',
   'TemplateTypeName', ''''''),
  ('DF_MessageFormatHeaders_HeaderFieldName', 'EMailTemplateTypeHeaders', 'DEFAULT',
   'HeaderFieldName', ''''''),
  ('DF_MessageFormatHeaders_HeaderFieldValue', 'EMailTemplateTypeHeaders', 'DEFAULT',
   'HeaderFieldValue', ''''''),
  ('DF_MessageTypePart_TemplateName', 'EMailTemplateTypeParts', 'DEFAULT', 'TemplateTypeName',
   ''''''),
  ('DF_MessageTypePart_PartName', 'EMailTemplateTypeParts', 'DEFAULT', 'PartName', ''''''),
  ('DF_EMailTemplateTypePart_PartOrder', 'EMailTemplateTypeParts', 'DEFAULT', 'PartOrder', '0'),
  ('DF_MessageTypePart_ContentType', 'EMailTemplateTypeParts', 'DEFAULT', 'ContentType', ''''''),
  ('DF_MessageTypePart_ContentTypeSubtype', 'EMailTemplateTypeParts', 'DEFAULT',
   'ContentTypeSubtype', ''''''),
  ('DF_EMailTemplateTypeParts_ContentTypeCharset', 'EMailTemplateTypeParts', 'DEFAULT',
   'ContentTypeCharset', ''''''),
  ('DF_MessageTypePart_ContentTypeAdditionalParameters', 'EMailTemplateTypeParts', 'DEFAULT',
   'ContentTypeAdditionalParameters', ''''''),
  ('DF_MessageTypePart_ContentTransferEncoding', 'EMailTemplateTypeParts', 'DEFAULT',
   'ContentTransferEncoding', ''''''),
  ('DF_EMailNotificationRules_ProjectId', 'EMailNotificationRules', 'DEFAULT', 'ProjectId', '-1'),
  ('DF_EMailNotificationRules_NotificationRuleName', 'EMailNotificationRules', 'DEFAULT',
   'NotificationRuleName', ''''''),
  ('DF_EMailNotificationRules_Active', 'EMailNotificationRules', 'DEFAULT', 'Active', '1'),
  ('DF_EMailNotificationRules_NotificationEventType', 'EMailNotificationRules', 'DEFAULT',
   'NotificationEventType', '0'),
  ('DF_EMailNotificationRules_WorkflowId', 'EMailNotificationRules', 'DEFAULT', 'WorkflowId', '0'),
  ('DF_EMailNotificationRules_ActionId', 'EMailNotificationRules', 'DEFAULT', 'ActionId', '0'),
  ('DF_EMailNotificationRules_RecipientType', 'EMailNotificationRules', 'DEFAULT', 'RecipientType',
   '0'),
  ('DF_EMailNotificationRules_RecipientAddress', 'EMailNotificationRules', 'DEFAULT',
   'RecipientAddress', ''''''),
  ('DF_EMailNotificationRules_TemplateName', 'EMailNotificationRules', 'DEFAULT', 'TemplateName',
   ''''''),
  ('DF_EMailMessagePart_TemplateName1', 'EMailTemplateParts', 'DEFAULT', 'TemplateName', ''''''),
  ('DF_EMailMessagePart_TemplateTypeName', 'EMailTemplateParts', 'DEFAULT', 'TemplateTypeName',
   ''''''),
  ('DF_EMailMessagePart_PartName', 'EMailTemplateParts', 'DEFAULT', 'PartName', ''''''),
  ('DF_EMailMessagePart_Body', 'EMailTemplateParts', 'DEFAULT', 'PartContent', ''''''),
  ('DF_MessageTypePartHeaders_TemplateTypeName', 'EMailTemplateTypePartHeaders', 'DEFAULT',
   'TemplateTypeName', ''''''),
  ('DF_MessageTypePartHeaders_PartName', 'EMailTemplateTypePartHeaders', 'DEFAULT', 'PartName',
   ''''''),
  ('DF_MessageTypePartHeaders_HeaderFieldName', 'EMailTemplateTypePartHeaders', 'DEFAULT',
   'HeaderFieldName', ''''''),
  ('DF_MessageTypePartHeaders_HeaderFieldValue', 'EMailTemplateTypePartHeaders', 'DEFAULT',
   'HeaderFieldValue', ''''''),
  ('DF_EMailNotifications_UserId', 'EMailNotifications', 'DEFAULT', 'EMailAddress', ''''''),
  ('DF_EMailNotifications_IssueId', 'EMailNotifications', 'DEFAULT', 'IssueId', '0'),
  ('DF_EMailNotifications_TemplateName', 'EMailNotifications', 'DEFAULT', 'TemplateName', ''''''),
  ('DF_EMailNotifications_StatusCode', 'EMailNotifications', 'DEFAULT', 'StatusCode', '''Pending'''),
  ('DF_EMailNotifications_DeliveryAttempts', 'EMailNotifications', 'DEFAULT', 'DeliveryAttempts',
   '0'),
  ('DF_EMailNotifications_AttemptedDeliveryErrorMsg', 'EMailNotifications', 'DEFAULT',
   'AttemptedDeliveryErrorMsg', '''''');

INSERT INTO VantrelConstraints
    (ConstraintName, TableName, ConstraintType, ColumnNames, ReferencedTable, ReferencedColumns)
  VALUES
  ('FK_EMailMessageTemplate_MessageTemplateType', 'EMailTemplates', 'FOREIGN KEY',
   'TemplateTypeName', 'EMailTemplateTypes', 'TemplateTypeName'),
  ('FK_MessageFormatHeaders_MessageTemplateType', 'EMailTemplateTypeHeaders', 'FOREIGN KEY',
   'TemplateTypeName', 'EMailTemplateTypes', 'TemplateTypeName'),
  ('FK_EMailTemplateTypeParts_EMailContentTransferCharsets', 'EMailTemplateTypeParts',
   'FOREIGN KEY', 'ContentTypeCharset', 'EMailContentTransferCharsets', 'ContentTypeCharset'),
  ('FK_MessageTypePart_ContentTransferEncodings', 'EMailTemplateTypeParts', 'FOREIGN KEY',
   'ContentTransferEncoding', 'EMailContentTransferEncodings', 'ContentTransferEncoding'),
  ('FK_MessageTypePart_MessageTemplateType', 'EMailTemplateTypeParts', 'FOREIGN KEY',
   'TemplateTypeName', 'EMailTemplateTypes', 'TemplateTypeName'),
  ('FK_EMailNotificationRules_EMailNotificationEventTypes', 'EMailNotificationRules',
   'FOREIGN KEY', 'NotificationEventType', 'EMailNotificationEventTypes', 'NotificationEventType'),
  ('FK_EMailNotificationRules_EMailRecipientTypes', 'EMailNotificationRules', 'FOREIGN KEY',
   'RecipientType', 'EMailRecipientTypes', 'RecipientType'),
  ('FK_EMailNotificationRules_EMailTemplates', 'EMailNotificationRules', 'FOREIGN KEY',
   'TemplateName', 'EMailTemplates', 'TemplateName'),
  ('FK_EMailNotificationRules_Workflows', 'EMailNotificationRules', 'FOREIGN KEY', 'WorkflowId',
   'Workflows', 'WorkflowId'),
  ('FK_EMailTemplateParts_EMailTemplates', 'EMailTemplateParts', 'FOREIGN KEY', 'TemplateName',
   'EMailTemplates', 'TemplateName'),
  ('FK_EMailTemplateParts_EMailTemplateTypeParts', 'EMailTemplateParts', 'FOREIGN KEY',
   'TemplateTypeName,PartName', 'EMailTemplateTypeParts', 'TemplateTypeName,PartName'),
  ('FK_MessageTypePartHeaders_MessageTypePart', 'EMailTemplateTypePartHeaders', 'FOREIGN KEY',
   'TemplateTypeName,PartName', 'EMailTemplateTypeParts', 'TemplateTypeName,PartName'),
  ('FK_EMailNotifications_EMailTemplates', 'EMailNotifications', 'FOREIGN KEY', 'TemplateName',
   'EMailTemplates', 'TemplateName'),
  ('FK_EMailNotifications_Issues', 'EMailNotifications', 'FOREIGN KEY', 'IssueId', 'Issues',
   'IssueId');

-- The first rows of the e-mail tables, as the 1.10 version step writes them (in its order). They
-- need the site workflow (WorkflowId 1) for the notification rule.

INSERT INTO EMailDeliveryFrequency (Frequency, FrequencyName) VALUES
  (1, 'Every minute'),
  (5, 'Every 5 minutes'),
  (10, 'Every 10 minutes'),
  (15, 'Every 15 minutes'),
  (30, 'Every 30 minutes'),
  (60, 'Every 60 minutes');

-- Differs from the column defaults on purpose: e-mail off, 30 s time-out, 3 attempts, 10 minutes.
INSERT INTO EMailConfiguration (EMailConfigurationId, EMailEnabled, SmtpHost, SmtpPort, SendTimeout,
                                FromEMailAddress, ServerLoginRequired, SmtpUserId, SmtpPassword,
                                MaximumDeliveryAttempts, DeliveryFrequency)
  VALUES (1, 0, '', 25, 30, '', 1, '', '', 3, 10);

INSERT INTO EMailContentTransferCharsets (ContentTypeCharset) VALUES ('us-ascii');

INSERT INTO EMailContentTransferEncodings (ContentTransferEncoding, EncodingDescription) VALUES
  ('7bit', 'Does not encode, only indicates that the message will only contain 7-bit characters and no line longer than 1024 characters.'),
  ('8bit', 'Does not encode, only indicates that the message will only contain 7-bit characters and no line longer than 1024 characters.'),
  ('base64', 'Base64 encoding writes every three bytes of the content as four characters taken from a 64-character alphabet of letters, digits, "+" and "/", in lines of at most 76 characters, with "=" padding the last group. Any content, text or binary, survives every mail server this way, at the cost of a third more size; the content cannot be read without decoding it.'),
  ('quoted-printable', 'Quoted-printable encoding leaves printable US-ASCII characters as they are and writes every other byte, and the "=" sign itself, as "=" followed by two hexadecimal digits; lines longer than 76 characters are broken with a "=" at the end (a soft line break). Text that is mostly US-ASCII stays readable while any byte can still be carried.'),
  ('binary', 'Binary encoding is simply unencoded binary data. It has no line-length limitations. Binary encoded messages are not valid Internet messages.' || char(13) || char(10) || char(13) || char(10));

INSERT INTO EMailNotificationEventTypes (NotificationEventType, NotificationEventTypeName) VALUES
  (1, 'Issue created'),
  (2, 'Issue assigned to user'),
  (3, 'Issue updated'),
  (4, 'Workflow transition');

INSERT INTO EMailRecipientTypes (RecipientType, RecipientTypeName) VALUES
  (1, 'Assignee'),
  (2, 'Creator'),
  (3, 'Previous assignee'),
  (4, 'Issue field'),
  (5, 'Specific address');

INSERT INTO EMailTemplateTypes (TemplateTypeName, Multipart, MultipartContentType,
                                MultipartContentTypeSubtype, MultipartContentTypeAdditionalParameters)
  VALUES ('HTML', 1, 'multipart', 'alternative', '');

INSERT INTO EMailTemplateTypeParts (TemplateTypeName, PartName, PartOrder, ContentType,
                                    ContentTypeSubtype, ContentTypeCharset,
                                    ContentTypeAdditionalParameters, ContentTransferEncoding) VALUES
  ('HTML', 'Text', 1, 'text', 'plain', 'us-ascii', '', '7bit'),
  ('HTML', 'HTML', 2, 'text', 'html', 'us-ascii', '', '7bit');

INSERT INTO EMailTemplateTypeHeaders (TemplateTypeName, HeaderFieldName, HeaderFieldValue) VALUES
  ('HTML', 'X-Vantrel-IssueId', '[IssueId]'),
  ('HTML', 'X-Vantrel-ProjectCode', '[ProjectCode]'),
  ('HTML', 'Reply-to', ''),
  ('HTML', 'X-Mailer', 'Vantrel V1.1.0');

INSERT INTO EMailTemplates (TemplateName, TemplateTypeName, Subject)
  VALUES ('Assignment Notice', 'HTML', 'You''ve been assigned issue [IssueId].');

INSERT INTO EMailTemplateParts (TemplateName, TemplateTypeName, PartName, PartContent) VALUES
  ('Assignment Notice', 'HTML', 'Text',
   'The following issue has been assigned to you:' || char(13) || char(10) || '[IssueUrl]'
   || char(13) || char(10) || char(13) || char(10) || '--' || char(13) || char(10)
   || 'Do not reply to this email.'),
  ('Assignment Notice', 'HTML', 'HTML',
   '<body><p>The following issue has been assigned to you: <a href=''[IssueUrl]''>[IssueId]</a><p>'
   || char(13) || char(10) || '<p>--<br>Do not reply to this email.</p></body>');

INSERT INTO EMailNotificationRules (NotificationRuleId, ProjectId, NotificationRuleName, Active,
                                    NotificationEventType, WorkflowId, ActionId, RecipientType,
                                    RecipientAddress, TemplateName)
  VALUES (13, -1, 'Issue assigned to user', 1, 2, 1, 0, 1, '', 'Assignment Notice');

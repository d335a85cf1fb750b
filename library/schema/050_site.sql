-- The site record and the backup settings.

-- One row; no row at all means version 1.00. DatabaseVersion is read as the value times 100.
-- LastUpdated is the time of the last version change, not a row version.
CREATE TABLE VantrelSite (
  DatabaseVersion DECIMAL(5, 2) NOT NULL,
  LastUpdated DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')),
  WebSiteURL VARCHAR(100) NOT NULL DEFAULT '' COLLATE NOCASE
);

-- One row of backup settings; the coded settings take their values from the three lists below.
CREATE TABLE SiteBackups (
  BackupDatabase BIT NOT NULL DEFAULT 0,
  BackupFrequency VARCHAR(20) NOT NULL DEFAULT 'Day' COLLATE NOCASE,
  BackupTime VARCHAR(5) NOT NULL DEFAULT '02:00' COLLATE NOCASE,
  BackupArchive VARCHAR(1024) NOT NULL DEFAULT '' COLLATE NOCASE,
  ExpireBackups BIT NOT NULL DEFAULT 0,
  BackupRetention VARCHAR(20) NOT NULL DEFAULT '2 Weeks' COLLATE NOCASE,
  LastUpdated INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE SiteBackupFrequencyCodes (
  BackupFrequency VARCHAR(20) NOT NULL COLLATE NOCASE CONSTRAINT PK_SiteBackupFrequencyCodes PRIMARY KEY
);

CREATE TABLE SiteBackupTimes (
  BackupTime VARCHAR(5) NOT NULL COLLATE NOCASE CONSTRAINT PK_SiteBackupTimes PRIMARY KEY
);

CREATE TABLE SiteBackupRetentionCodes (
  BackupRetention VARCHAR(20) NOT NULL COLLATE NOCASE CONSTRAINT PK_SiteBackupRetentionCodes PRIMARY KEY
);

INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames) VALUES
  ('PK_SiteBackupFrequencyCodes', 'SiteBackupFrequencyCodes', 'PRIMARY KEY', 'BackupFrequency'),
  ('PK_SiteBackupTimes', 'SiteBackupTimes', 'PRIMARY KEY', 'BackupTime'),
  ('PK_SiteBackupRetentionCodes', 'SiteBackupRetentionCodes', 'PRIMARY KEY', 'BackupRetention');

-- Tables of our own that the site database needs beside the product's tables.

-- VantrelConstraints: the named keys, defaults and foreign keys of the schema.
--
-- SQLite can neither look a constraint up by name nor drop or add one on an existing table, while
-- the run-time DDL (custom fields, code tables, version steps) works with constraint names
-- ("alter table Issues drop constraint DF_Issues_X", "with nocheck add constraint fk_T_X ...").
-- This table holds every such name, one row per constraint:
--
--   ConstraintName     the name; unique in the whole database, compared without regard to case
--                      (adding a constraint whose name is taken is the "object exists" error 2714)
--   TableName          the table the constraint belongs to (for a foreign key: the referencing one)
--   ConstraintType     'PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY' or 'DEFAULT'
--   ColumnNames        the columns, comma-separated without blanks, in key order
--   ReferencedTable    foreign keys: the referenced table; '' otherwise
--   ReferencedColumns  foreign keys: the referenced columns, comma-separated, paired by position
--                      with ColumnNames; '' otherwise
--   Definition         defaults: the default expression as SQL text (for example '' or 1);
--                      '' otherwise
--   Enforcement        'DECLARED': part of the table's CREATE TABLE statement (changing it means
--                      rebuilding the table);
--                      'TRIGGER': a foreign key added to an existing table; it checks only rows
--                      written after it was added (as "with nocheck") and is enforced by the
--                      triggers <ConstraintName>_ChildInsert, <ConstraintName>_ChildUpdate,
--                      <ConstraintName>_ParentDelete and <ConstraintName>_ParentUpdate, which raise
--                      'FOREIGN KEY constraint failed (<ConstraintName>)' (native error 547).
--                      Dropping the constraint drops the four triggers and the row; a table
--                      rebuild re-creates the triggers from this table.
CREATE TABLE VantrelConstraints (
  ConstraintName VARCHAR(128) NOT NULL COLLATE NOCASE CONSTRAINT PK_VantrelConstraints PRIMARY KEY,
  TableName VARCHAR(128) NOT NULL COLLATE NOCASE,
  ConstraintType VARCHAR(20) NOT NULL COLLATE NOCASE
    CHECK (ConstraintType IN ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY', 'DEFAULT')),
  ColumnNames VARCHAR(1000) NOT NULL COLLATE NOCASE,
  ReferencedTable VARCHAR(128) NOT NULL DEFAULT '' COLLATE NOCASE,
  ReferencedColumns VARCHAR(1000) NOT NULL DEFAULT '' COLLATE NOCASE,
  Definition VARCHAR(1000) NOT NULL DEFAULT '',
  Enforcement VARCHAR(10) NOT NULL DEFAULT 'DECLARED' COLLATE NOCASE
    CHECK (Enforcement IN ('DECLARED', 'TRIGGER'))
);
INSERT INTO VantrelConstraints (ConstraintName, TableName, ConstraintType, ColumnNames)
  VALUES ('PK_VantrelConstraints', 'VantrelConstraints', 'PRIMARY KEY', 'ConstraintName');
CREATE INDEX IX_VantrelConstraints_TableName ON VantrelConstraints (TableName);
CREATE INDEX IX_VantrelConstraints_ReferencedTable ON VantrelConstraints (ReferencedTable);

-- Per-site secrets (the key that signs recordset images, among them). Values are bytes and never
-- leave the library.
CREATE TABLE IF NOT EXISTS VantrelSecrets (Name TEXT PRIMARY KEY COLLATE NOCASE, Value BLOB NOT NULL);

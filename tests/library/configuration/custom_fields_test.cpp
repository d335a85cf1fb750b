// CreateCustomField, UpdateCustomField and DeleteCustomField on real site files: the checks, the
// row budget built with real fields, and a round trip that leaves the site as it was.
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "config_site.h"
#include "configuration/issue_form.h"
#include "core/lookups.h"
#include "issues/issue_list.h"
#include "issues/word_search.h"
#include "support/small_disk.h"

namespace brisquel::configtest {
namespace {

using automation::Variant;
using Changes = std::map<std::string, std::string>;

const Fields kText = {{"FieldName", "Notes"}, {"FieldFriendlyName", "Notes"}, {"TooltipForFilter", "Free text."},
                      {"TableName", ""},      {"FieldType", "1"},             {"NumLines", "1"},
                      {"TextMaxLength", "100"}, {"TextLog", ""},              {"CustomTable", ""}};

class CustomFieldsTest : public ConfigSite {
 protected:
  bool Create(const Changes& changes, const std::string& user = "admin") {
    return CreateCustomField(*db, user, Form(With(kText, changes)));
  }
  bool Text(const std::string& name, int size, const std::string& log = "") {
    return Create({{"FieldName", name}, {"FieldFriendlyName", name}, {"TextMaxLength", std::to_string(size)},
                   {"TextLog", log}});
  }
  bool List(const std::string& name, const std::string& table) {
    return Create({{"FieldName", name}, {"FieldFriendlyName", name}, {"FieldType", "2"}, {"CustomTable", table}});
  }
  bool Check(const std::string& name) {
    return Create({{"FieldName", name}, {"FieldFriendlyName", name}, {"FieldType", "3"}});
  }
  bool Update(const std::string& field, const Changes& changes) {
    Changes c = changes;
    c.emplace("FieldFriendlyName", field);  // the caption stays unless changed
    return UpdateCustomField(*db, "admin", GetIssueFieldRs(*db, field), Form(With(kText, c)));
  }
  bool Delete(const std::vector<std::string>& names, const std::string& user = "admin") {
    Fields f;
    for (const auto& n : names) f.emplace_back("chkField", n);
    return DeleteCustomField(*db, user, Form(f));
  }
  long long RecordLength() {
    return raw.Int("select sum(case Representation when 'text' then TextMaxLength when 'multiline' then "
                   "TextMaxLength when 'combo' then 50 when 'checkbox' then 1 when 'comments' then 0 end) from IssueFields");
  }
  std::string Column(const std::string& name) {
    return raw.Text("select type || '|' || \"notnull\" || '|' || dflt_value from pragma_table_info('Issues') where name = '" +
                    name + "'");
  }
  std::vector<std::string> Site() {
    auto rows = raw.Rows("select type, name, tbl_name, sql from sqlite_schema order by type, name");
    for (auto& r : raw.Rows("select * from VantrelConstraints order by ConstraintName")) rows.push_back(r);
    for (auto& r : raw.Rows("select FieldName, FieldFriendlyName, Representation, TextMaxLength, TableName "
                            "from IssueFields order by FieldName"))
      rows.push_back(r);
    return rows;
  }
};

TEST_F(CustomFieldsTest, ChecksInOrder) {
  const std::vector<std::pair<Changes, std::string>> cases = {
      {{{"FieldName", std::string(21, 'a')}}, "Field name cannot be longer than 20 characters."},
      {{{"FieldName", ""}}, "Field name cannot be blank."},
      {{{"FieldName", "INQ_x"}}, "Field name is reserved, please choose another name."},
      {{{"FieldName", "rsissue"}}, "Field name is reserved, please choose another name."},
      {{{"FieldName", "PostBackReason"}}, "Field name is reserved, please choose another name."},
      {{{"FieldName", "_a"}}, "Field name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"FieldName", "1a"}}, "Field name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"FieldName", "a-b"}}, "Field name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"FieldName", "a b"}}, "Field name must begin with a letter, and only contain letters, digits or underscores."},
      {{{"FieldFriendlyName", std::string(51, 'c')}}, "Field friendly name cannot be longer than 50 characters."},
      {{{"FieldFriendlyName", ""}}, "Field friendly name cannot be blank."},
      {{{"FieldFriendlyName", "priority"}}, "Field friendly name must be unique."},
      {{{"TooltipForFilter", std::string(201, 'd')}}, "Description cannot be longer than 200 characters."},
      {{{"FieldType", "4"}}, "Data type/representation must be 1, 2 or 3."},
      {{{"NumLines", ""}}, "Number of lines cannot be blank."},
      {{{"NumLines", "two"}}, "Number of lines must be an integer number."},
      {{{"NumLines", "11"}}, "Number of lines must be between 1 and 10 (inclusive)."},
      {{{"TextMaxLength", ""}}, "Maximum size cannot be blank."},
      {{{"TextMaxLength", "big"}}, "Maximum size must be an integer number."},
      {{{"TextMaxLength", "4001"}}, "Maximum size must be between 1 and 4,000 (inclusive)."},
      {{{"TextLog", "x"}}, "Invalid value for keep a log of entries was specified."},
      {{{"FieldType", "2"}}, "List entry data type secified but a custom code table was not specified."},
      {{{"FieldType", "2"}, {"CustomTable", std::string(51, 't')}},
       "Custom code table name cannot be longer than 50 characters."},
      {{{"FieldType", "2"}, {"CustomTable", "Nope"}}, "Unknown custom code table."},
      {{{"FieldName", "Summary"}}, "The custom field 'Summary' already exists."},
      {{{"FieldName", "Valid"}}, "A database field with the same name already exists. You must choose another name."},
  };
  const auto before = Site();
  for (const auto& [changes, message] : cases) {
    EXPECT_FALSE(Create(changes)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(Create({}, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Site(), before);
}

TEST_F(CustomFieldsTest, NamesThatPass) {
  for (const std::string& name : {std::string(20, 'a'), std::string("inq"), std::string("xinq_"), std::string("a_1")}) {
    EXPECT_TRUE(Text(name, 10)) << name << ": " << Message();
  }
  ASSERT_TRUE(Text("Journal", 300, "ON"));
  EXPECT_EQ(raw.Text("select Representation || '|' || NumLines || '|' || TextMaxLength || '|' || FilterFieldType "
                     "from IssueFields where FieldName = 'Journal'"),
            "comments|1|300|5");
  EXPECT_EQ(Column("Journal"), "");
}

TEST_F(CustomFieldsTest, RowBudgetBuiltWithRealFields) {
  EXPECT_EQ(RecordLength(), 755);
  ASSERT_TRUE(Text("Big1", 4000));
  ASSERT_TRUE(Text("Big2", 2235));
  ASSERT_EQ(RecordLength(), 6990);
  EXPECT_FALSE(Text("Eleven", 11));
  EXPECT_EQ(Message(),
            "The field size, 11, is to large to add to the issues table. There are only 10 characters available.");
  ASSERT_TRUE(Text("Ten", 10)) << Message();
  EXPECT_FALSE(Check("Box"));
  EXPECT_EQ(Message(),
            "The field size, 1, is to large to add to the issues table. There is no remaining space available.");
  EXPECT_TRUE(Text("Journal", 4000, "on")) << Message();
  ASSERT_TRUE(Delete({"Ten"})) << Message();
  ASSERT_TRUE(Text("Nine", 9));
  EXPECT_FALSE(List("Colour", "Priorities"));
  EXPECT_EQ(Message(),
            "The field size, 50, is to large to add to the issues table. There is only 1 character available.");
}

TEST_F(CustomFieldsTest, RoundTripLeavesTheSiteAsItWas) {
  const auto fresh = Site();
  ASSERT_TRUE(Create({{"TableName", "Priorities"}})) << Message();
  ASSERT_TRUE(Create({{"FieldName", "Details"}, {"FieldFriendlyName", "Details"}, {"NumLines", "3"},
                      {"TextMaxLength", "500"}}));
  ASSERT_TRUE(Text("Log", 200, "on"));
  ASSERT_TRUE(List("Urgency", "priorities"));
  ASSERT_TRUE(List("Area", "ProjectModules"));
  ASSERT_TRUE(Check("Reviewed"));
  EXPECT_EQ(raw.Rows("select FieldName || '|' || Representation || '|' || TableName || '|' || FilterFieldType || '|' || "
                     "FilterFqFieldName from IssueFields where FieldName in ('Notes', 'Details', 'Log', 'Urgency', "
                     "'Area', 'Reviewed') order by FieldName"),
            (std::vector<std::string>{"Area|combo|ProjectModules|6|Issues.Area", "Details|multiline||0|Issues.Details",
                                      "Log|comments||5|Issues.Log", "Notes|text||0|Issues.Notes",
                                      "Reviewed|checkbox||1|Issues.Reviewed", "Urgency|combo|Priorities|4|Issues.Urgency"}));
  EXPECT_EQ(Column("Notes"), "VARCHAR(100)|1|''");
  EXPECT_EQ(Column("Details"), "VARCHAR(500)|1|''");
  EXPECT_EQ(Column("Urgency"), "VARCHAR(50)|1|''");
  EXPECT_EQ(Column("Reviewed"), "BIT|1|0");
  EXPECT_EQ(raw.Text("select Notes || '|' || Reviewed from Issues where IssueId = 1"), "|0");
  EXPECT_EQ(raw.Rows("select ConstraintName || '|' || ColumnNames || '|' || ReferencedColumns from VantrelConstraints "
                     "where ConstraintName in ('fk_Priorities_Urgency', 'fk_ProjectModules_Area', 'DF_Issues_Reviewed') "
                     "order by ConstraintName"),
            (std::vector<std::string>{"DF_Issues_Reviewed|Reviewed|", "fk_Priorities_Urgency|Urgency|PriorityCode",
                                      "fk_ProjectModules_Area|ProjectId,Area|ProjectId,ModuleCode"}));
  EXPECT_EQ(raw.Run("update Issues set Urgency = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
  EXPECT_EQ(raw.Run("update Issues set Area = 'Nope' where IssueId = 1").rc, SQLITE_CONSTRAINT_TRIGGER);
  raw.Exec("update Issues set Urgency = 'High', Area = 'Core' where IssueId = 1");

  raw.Exec("insert into SummaryLayoutFields (UserId, LayoutName, RowNumber, DisplayOrder, FieldName) "
           "values ('admin', 'Default', 3, 1, 'Notes'), ('alice', 'Mine', 1, 1, 'Urgency'); "
           "insert into SummaryLayouts (UserId, LayoutName, NumRows) values ('alice', 'Mine', 1); "
           "insert into DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) values (1, 6, 1, 'Area'); "
           "insert into WorkflowStateValidations (StateId, FieldName) values (2, 'Details'); "
           "insert into IssueComments (IssueId, FieldName, CommentText) values (1, 'Log', 'entry'); "
           "insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, TemplateName, "
           "NotificationEventType, WorkflowId, ActionId, RecipientType, RecipientAddress) "
           "select -1, 'To reviewer', 1, TemplateName, 1, 1, 0, 4, 'Reviewed' from EMailTemplates limit 1");
  ASSERT_TRUE(Delete({"Notes", "Details", "Log", "Urgency", "Area", "Reviewed"})) << Message();
  const auto after = Site();
  EXPECT_EQ(after.size(), fresh.size());
  for (size_t i = 0; i < std::min(after.size(), fresh.size()); ++i) EXPECT_EQ(after[i], fresh[i]);
  EXPECT_EQ(Count("from SummaryLayouts where LayoutName = 'Mine'"), 0);
  EXPECT_EQ(Count("from SummaryLayoutFields where FieldName in ('Notes', 'Urgency')"), 0);
  EXPECT_EQ(raw.Text("select '[' || FieldName || ']' from DataEntryLayoutFields where RowNumber = 6"), "[]");
  EXPECT_EQ(Count("from WorkflowStateValidations where FieldName = 'Details'"), 0);
  EXPECT_EQ(Count("from IssueComments where FieldName = 'Log'"), 0);
  EXPECT_EQ(Count("from EMailNotificationRules where RecipientAddress = 'Reviewed'"), 0);
}

TEST_F(CustomFieldsTest, UpdateResizesWithinTheBudget) {
  ASSERT_TRUE(Text("Grow", 100));
  ASSERT_TRUE(Text("Big1", 4000));
  ASSERT_TRUE(Text("Big2", 2095));
  ASSERT_EQ(RecordLength(), 6950);
  EXPECT_FALSE(Update("Grow", {{"TextMaxLength", "200"}}));
  EXPECT_EQ(Message(), "The field size is to large for the issues table. There are only 50 characters available.");
  ASSERT_TRUE(Update("Grow", {{"TextMaxLength", "150"}, {"NumLines", "4"}})) << Message();
  EXPECT_EQ(Column("Grow"), "VARCHAR(150)|1|''");
  EXPECT_EQ(raw.Text("select Representation || '|' || NumLines from IssueFields where FieldName = 'Grow'"), "text|4");
}

TEST_F(CustomFieldsTest, ShrinkCutsStoredValuesFirst) {
  ASSERT_TRUE(Text("Shrink", 200));
  raw.Exec("update Issues set Shrink = substr(hex(zeroblob(60)), 1, 120) where IssueId = 1");
  ASSERT_TRUE(Update("Shrink", {{"TextMaxLength", "50"}, {"TextLog", "on"}})) << Message();
  EXPECT_EQ(raw.Int("select length(Shrink) from Issues where IssueId = 1"), 50);
  EXPECT_EQ(Column("Shrink"), "VARCHAR(50)|1|''");
  auto issue = GetIssueRs(*db, 1);
  EXPECT_NE(testsupport::ErrorNumber([&] { issue->SetValue("Shrink", Variant(std::string(51, 's'))); }), 0);

  ASSERT_TRUE(Text("Journal", 300, "on"));
  const auto schema = raw.Rows("select sql from sqlite_schema where name = 'Issues'");
  ASSERT_TRUE(Update("Journal", {{"TextMaxLength", "900"}})) << Message();
  EXPECT_EQ(raw.Text("select TextMaxLength from IssueFields where FieldName = 'Journal'"), "900");
  EXPECT_EQ(raw.Rows("select sql from sqlite_schema where name = 'Issues'"), schema);
}

TEST_F(CustomFieldsTest, UpdateRefusals) {
  ASSERT_TRUE(Text("Notes", 100));
  EXPECT_FALSE(Update("Notes", {{"FieldFriendlyName", "Summary"}}));
  EXPECT_EQ(Message(), "Field friendly name must be unique.");
  EXPECT_TRUE(Update("Notes", {{"FieldFriendlyName", "NOTES"}})) << Message();
  auto stale = GetIssueFieldRs(*db, "Notes");
  raw.Exec("update IssueFields set TooltipForFilter = 'changed' where FieldName = 'Notes'");
  EXPECT_FALSE(UpdateCustomField(*db, "admin", stale, Form(With(kText, {{"TextMaxLength", "60"}}))));
  EXPECT_EQ(Message(), "Another user has changed this field. You must cancel your changes.");
  EXPECT_EQ(Column("Notes"), "VARCHAR(100)|1|''");
  // A list keeps its size whatever is posted.
  ASSERT_TRUE(Update("PriorityCode", {{"FieldFriendlyName", "Urgency"}, {"FieldType", "2"}})) << Message();
  EXPECT_EQ(raw.Text("select FieldFriendlyName || '|' || TextMaxLength from IssueFields where FieldName = 'PriorityCode'"),
            "Urgency|0");
  EXPECT_FALSE(UpdateCustomField(*db, "bob", GetIssueFieldRs(*db, "Notes"), Form(kText)));
  EXPECT_EQ(Message(), "Permission denied.");
}

TEST_F(CustomFieldsTest, DeleteRefusalsRemoveNothing) {
  ASSERT_TRUE(Text("Notes", 100));
  const auto before = Site();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"Notes", "projectcode"}, "The project field cannot be deleted."},
      {{"Notes", "IssueId"}, "The field 'IssueId' is built in and cannot be deleted."},
      {{"Notes", "Summary"}, "The field 'Summary' is built in and cannot be deleted."},
      {{"Notes", "PriorityCode"}, "The field 'PriorityCode' is built in and cannot be deleted."},
      {{"Notes", "DateOpened"}, "The field 'DateOpened' is built in and cannot be deleted."},
      {{"Notes", "%20"}, "The field ' ' is built in and cannot be deleted."},
      // Deleted meanwhile by another administrator.
      {{"Notes", "Nothing"}, "The issue field 'Nothing' does not exist."},
  };
  for (const auto& [names, message] : cases) {
    EXPECT_FALSE(Delete(names)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(Delete({"Notes"}, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Site(), before);
  EXPECT_FALSE(db->Connection().InTransaction());
}

// Removing a field whose default constraint takes a rebuild of Issues, on a disk that cannot hold
// the rebuilt table: the full disk is what the caller is told, and the field stays whole. On a
// tmpfs, and where the room is a file size limit (as where no tmpfs can be mounted).
TEST_F(CustomFieldsTest, ADeleteOnAFullDiskSaysSoAndRemovesNothing) {
  for (const auto kind : {testsupport::SmallDisk::DefaultKind(), testsupport::SmallDisk::Kind::kFileSizeLimit}) {
    testsupport::SmallDisk disk(8 << 20, kind);
    SCOPED_TRACE(disk.Mounted() ? "on a tmpfs" : "under a file size limit");
    const std::filesystem::path site = disk / "Site.db";
    std::filesystem::copy_file(file, site);
    db = sitedb::Open(site);
    ASSERT_TRUE(Text("Notes", 100));
    sitedb::Db check(site);
    const std::string columns = check.Text("select group_concat(name, ', ') from pragma_table_info('Issues') where name <> 'IssueId'");
    check.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) INSERT INTO Issues (" +
               columns + ") SELECT " + columns + " FROM Issues, n");
    check.Exec("UPDATE Issues SET Notes = hex(randomblob(50))");
    const auto before = check.Rows("select FieldName || '|' || TextMaxLength from IssueFields where FieldName = 'Notes' union all select ConstraintName "
                                   "from VantrelConstraints where ConstraintName = 'DF_Issues_Notes'");
    ASSERT_EQ(before.size(), 2u);
    const long long issues = check.Int("select count(*) * 220 from Issues");  // about the table's bytes
    disk.Fill(static_cast<uint64_t>(issues / 3));
    // In a process of its own, which the limit is for: the error, where it arose, whether the
    // transaction is still open.
    const std::string out = disk.Run([&] {
      auto own = sitedb::Open(site);
      // A small page cache: the rebuild writes its pages to the log as it goes, not at the commit.
      own->Connection().ExecuteNonQuery("PRAGMA cache_size = 20");
      auto e = testsupport::ErrorOf([&] { DeleteCustomField(*own, "admin", Form({{"chkField", "Notes"}})); });
      return e.description + "\n" + (e.source.find("Database.DeleteCustomField") != std::string::npos ? "from DeleteCustomField" : e.source) +
             "\n" + (own->Connection().InTransaction() ? "open" : "closed");
    });
    EXPECT_EQ(out, "The database cannot be written: the disk is full.\nfrom DeleteCustomField\nclosed");
    disk.Free();
    EXPECT_EQ(check.Rows("select FieldName || '|' || TextMaxLength from IssueFields where FieldName = 'Notes' union all select ConstraintName from "
                         "VantrelConstraints where ConstraintName = 'DF_Issues_Notes'"),
              before);
    EXPECT_EQ(check.Int("select count(*) from pragma_table_info('Issues') where name = 'Notes'"), 1);
    EXPECT_EQ(check.Text("PRAGMA integrity_check"), "ok");
    EXPECT_TRUE(Delete({"Notes"}));
    db = sitedb::Open(file);  // not on the disk, which goes at the end of the round
  }
}

TEST_F(CustomFieldsTest, ByName) {
  auto object = ByName();
  EXPECT_TRUE(object->Call("CreateCustomField", {Variant("admin"), Posted(kText)}).ToBool());
  Variant rs = object->Call("GetIssueFieldRs", {Variant("Notes")});
  EXPECT_TRUE(object->Call("UpdateCustomField", {Variant("admin"), rs, Posted(With(kText, {{"TextMaxLength", "80"}}))})
                  .ToBool());
  EXPECT_EQ(Column("Notes"), "VARCHAR(80)|1|''");
  EXPECT_TRUE(object->Call("DeleteCustomField", {Variant("admin"), Posted({{"chkField", "Notes"}})}).ToBool());
  EXPECT_EQ(Column("Notes"), "");
}

}  // namespace
}  // namespace brisquel::configtest

namespace brisquel::configtest {
namespace {

// A text field is searched through an index of its own from its creation on; the rebuild of
// Issues for a new width keeps the index and its triggers, and the field's removal takes them.
TEST_F(CustomFieldsTest, ATextFieldHasItsWordSearchIndexWhileItLives) {
  auto found = [&](const std::string& word) {
    auto rs = FindIssueByTextRs(*db, "admin", -1, true, "Issues.IssueId", 0, word);
    if (!rs) return std::string("Nothing: ") + db->GetLastErrorMessage();
    std::string out;
    for (; !rs->IsEOF(); rs->MoveNext()) out += std::to_string(rs->Value("IssueId").ToLong()) + " ";
    // Nothing found is "(indexed)" alone.
    return out + (WordSearchCondition(*db, word, true).indexed ? "(indexed)" : "(scanned)");
  };
  const std::string kIndex = "select count(*) from sqlite_schema where name like 'IssueText!_Notes%' escape '!'";
  struct Step {
    const char* what;
    std::function<void()> act;
    long long indexObjects;  // the virtual table, its three own tables and its three triggers
    std::string notes, summary;
  };
  const std::vector<Step> steps = {
      {"created", [&] { ASSERT_TRUE(Text("Notes", 100)); }, 7, "(indexed)", "1 (indexed)"},
      {"written", [&] { raw.Exec("UPDATE Issues SET Notes = 'Needle IN the haystack' WHERE IssueId IN (2, 3)"); }, 7,
       "2 3 (indexed)", "1 (indexed)"},
      {"widened", [&] { ASSERT_TRUE(Update("Notes", {{"TextMaxLength", "200"}})); }, 7, "2 3 (indexed)",
       "1 (indexed)"},
      {"written after the rebuild", [&] { raw.Exec("UPDATE Issues SET Notes = 'no needle' WHERE IssueId = 3;"
                                                    "UPDATE Issues SET Notes = 'THE HAYSTACK' WHERE IssueId = 4"); },
       7, "2 4 (indexed)", "1 (indexed)"},
      {"deleted", [&] { ASSERT_TRUE(Delete({"Notes"})); }, 0, "(indexed)", "1 (indexed)"},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_EQ(raw.Int(kIndex), step.indexObjects) << step.what;
    EXPECT_EQ(found("the haystack"), step.notes) << step.what;
    EXPECT_EQ(found("login page"), step.summary) << step.what;
  }
  EXPECT_EQ(Column("Notes"), "");
  EXPECT_EQ(raw.Text("PRAGMA integrity_check"), "ok");
}

// Field names that extend another's by the name of an index's own table keep indexes apart.
TEST_F(CustomFieldsTest, FieldsWhoseNamesExtendAnothersHaveIndexesOfTheirOwn) {
  const std::vector<std::string> names = {"Notes", "Notes_data", "Notes_Index", "Notes_Index_data"};
  for (const std::string& name : names) EXPECT_TRUE(Text(name, 20)) << name << ": " << db->GetLastErrorMessage();
  EXPECT_EQ(Count("from sqlite_schema where type = 'table' and sql like 'CREATE VIRTUAL TABLE%'"), 2 + 4);
  EXPECT_TRUE(Delete(names));
  EXPECT_EQ(Count("from sqlite_schema where type = 'table' and sql like 'CREATE VIRTUAL TABLE%'"), 2);
}

}  // namespace
}  // namespace brisquel::configtest

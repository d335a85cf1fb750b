// CreateCodeTableValue, UpdateCodeTableValue and DeleteCodeTableValue on real site files: renames
// that rewrite issues, history and the workflow, and deletes that cascade or are refused.
#include <gtest/gtest.h>

#include "automation/automation.h"
#include "config_site.h"
#include "core/lookups.h"

namespace brisquel::configtest {
namespace {

using automation::Variant;

class CodeValuesTest : public ConfigSite {
 protected:
  bool Add(const Fields& fields, const std::string& user = "admin") {
    return CreateCodeTableValue(*db, user, Form(fields));
  }
  bool Rename(const std::string& table, const std::string& from, const std::string& to, const std::string& sort = "",
              int32_t project = 0, const std::string& user = "admin") {
    return UpdateCodeTableValue(*db, user, GetCodeRs(*db, user, table, project, from),
                                Form({{"CodeValue", to}, {"SortOrder", sort}, {"TableName", table},
                                      {"ProjectId", std::to_string(project)}}));
  }
  bool Delete(const std::string& table, const std::vector<std::string>& codes, int32_t project = 0,
              const std::string& user = "admin") {
    Fields f;
    for (const auto& c : codes) f.emplace_back("chkCode", c);
    return DeleteCodeTableValue(*db, user, table, project, Form(f));
  }
  // Rows of the workflow, the history and the issues that hold resolutions, for before-and-after.
  std::vector<std::string> Holders() {
    auto rows = raw.Rows("select StateId, StateName, ResolutionCode, StatusCode from WorkflowStates order by StateId");
    for (auto& r : raw.Rows("select HistoryId, OldResolutionCode, NewResolutionCode, OldStatusCode, NewStatusCode "
                            "from IssueHistory order by HistoryId"))
      rows.push_back(r);
    for (auto& r : raw.Rows("select IssueId, ResolutionCode, StatusCode, PriorityCode from Issues order by IssueId"))
      rows.push_back(r);
    for (auto& r : raw.Rows("select count(*) from WorkflowActions union all select count(*) from Resolutions"))
      rows.push_back(r);
    return rows;
  }
};

TEST_F(CodeValuesTest, CreateChecksInOrder) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {{{"CodeValue", std::string(51, 'v')}, {"TableName", "Priorities"}}, "Value cannot be longer than 50 characters."},
      {{{"CodeValue", "x"}, {"TableName", " "}}, "Table cannot be blank."},
      {{{"CodeValue", "x"}, {"TableName", "Nope"}}, "Unknown custom table: Nope"},
      {{{"CodeValue", "x"}, {"TableName", "Priorities"}, {"SortOrder", "ab"}}, "Sort order must be numeric."},
      {{{"CodeValue", "x"}, {"TableName", "ProjectBuilds"}, {"SortOrder", "2"}}, "Blank project id."},
      {{{"CodeValue", "x"}, {"TableName", "ProjectBuilds"}, {"ProjectId", "one"}}, "Invalid project id: one"},
      {{{"CodeValue", "x"}, {"TableName", "Projects"}}, "The table 'Projects' is not a code table."},
      {{{"CodeValue", "Waiting"}, {"TableName", "StatusCodes"}}, "Value cannot be longer than 6 characters."},
      {{{"CodeValue", "HIGH"}, {"TableName", "Priorities"}}, "The value 'HIGH' already exists."},
  };
  for (const auto& [fields, message] : cases) {
    EXPECT_FALSE(Add(fields)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(Add({{"CodeValue", "x"}, {"TableName", "Priorities"}}, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Count("from Priorities"), 5);
}

TEST_F(CodeValuesTest, CreateStoresBlankSortAsZeroAndLetsProjectAdministratorsAdd) {
  ASSERT_TRUE(Add({{"CodeValue", " Later "}, {"TableName", "Priorities"}, {"SortOrder", ""}})) << Message();
  EXPECT_EQ(raw.Text("select SortOrder from Priorities where PriorityCode = ' Later '"), "0");
  ASSERT_TRUE(Add({{"CodeValue", "3.0"}, {"TableName", "ProjectBuilds"}, {"SortOrder", "5"}, {"ProjectId", "1"}},
                  "alice"))
      << Message();
  EXPECT_EQ(raw.Text("select SortOrder from ProjectBuilds where ProjectId = 1 and BuildCode = '3.0'"), "5");
  ASSERT_TRUE(Add({{"CodeValue", "Web"}, {"TableName", "ProjectModules"}, {"SortOrder", "ab"}, {"ProjectId", "1"}}));
}

TEST_F(CodeValuesTest, RenameRewritesIssuesWorkflowAndHistory) {
  ASSERT_TRUE(Rename("Resolutions", "Fixed", "Resolved", "7")) << Message();
  EXPECT_EQ(raw.Rows("select IssueId from Issues where ResolutionCode = 'Resolved' order by IssueId"),
            (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(raw.Rows("select StateName from WorkflowStates where ResolutionCode = 'Resolved' order by StateId"),
            (std::vector<std::string>{"Resolved", "Resolved - Closed"}));
  EXPECT_EQ(Count("from IssueHistory where OldResolutionCode = 'Fixed' or NewResolutionCode = 'Fixed'"), 0);
  EXPECT_GT(Count("from IssueHistory where OldResolutionCode = 'Resolved'"), 0);
  EXPECT_GT(Count("from IssueHistory where NewResolutionCode = 'Resolved'"), 0);
  EXPECT_EQ(raw.Rows("select ResolutionCode || '|' || SortOrder from Resolutions where ResolutionCode in "
                     "('Fixed', 'Resolved')"),
            std::vector<std::string>{"Resolved|7"});
  EXPECT_EQ(raw.Text("select StateName from WorkflowStates where StateId = 1"), "Issue Create");
}

TEST_F(CodeValuesTest, ChangeOfCaseKeepsSortOrderAndReachesEveryHolder) {
  ASSERT_TRUE(Rename("Resolutions", "Fixed", "FIXED", "9")) << Message();
  EXPECT_EQ(raw.Text("select SortOrder from Resolutions where ResolutionCode = 'FIXED' collate binary"), "3");
  EXPECT_EQ(Count("from Issues where ResolutionCode = 'FIXED' collate binary"), 2);
  EXPECT_EQ(Count("from WorkflowStates where ResolutionCode = 'FIXED' collate binary"), 2);
  EXPECT_EQ(raw.Text("select StateName from WorkflowStates where StateId = 4"), "FIXED - Closed");
  EXPECT_EQ(Count("from IssueHistory where NewResolutionCode = 'Fixed' collate binary"), 0);
  // A per-project code changes for its own project only.
  raw.Exec("insert into Projects (ProjectId, ProjectCode) values (2, 'Other'); "
           "insert into ProjectBuilds (ProjectId, BuildCode, SortOrder) values (2, '', 1), (2, '1.0', 2); "
           "insert into ProjectModules (ProjectId, ModuleCode) values (2, ''); "
           "insert into Issues (ProjectId, Summary, DetectedInBuildCode) values (2, 'other', '1.0')");
  ASSERT_TRUE(Rename("ProjectBuilds", "1.0", "1.0a", "2", 1)) << Message();
  EXPECT_EQ(Count("from Issues where DetectedInBuildCode = '1.0a'"), 4);
  EXPECT_EQ(Count("from Issues where DetectedInBuildCode = '1.0' and ProjectId = 2"), 1);
}

TEST_F(CodeValuesTest, StatusRenameKeepsStateNames) {
  ASSERT_TRUE(Rename("StatusCodes", "Closed", "Done", "3")) << Message();
  EXPECT_EQ(raw.Text("select StateName || '|' || StatusCode from WorkflowStates where StateId = 4"),
            "Fixed - Closed|Done");
  EXPECT_EQ(Count("from Issues where StatusCode = 'Done'"), 3);
  EXPECT_EQ(Count("from IssueHistory where NewStatusCode = 'Closed' or OldStatusCode = 'Closed'"), 0);
}

TEST_F(CodeValuesTest, UpdateRefusalsChangeNothing) {
  const auto before = Holders();
  auto stale = GetCodeRs(*db, "admin", "Resolutions", 0, "Fixed");
  raw.Exec("update Resolutions set SortOrder = 30 where ResolutionCode = 'Fixed'");
  EXPECT_FALSE(UpdateCodeTableValue(*db, "admin", stale,
                                    Form({{"CodeValue", "Resolved"}, {"TableName", "Resolutions"}})));
  EXPECT_EQ(Message(), "Another user has changed this value. You must cancel your changes.");
  raw.Exec("update Resolutions set SortOrder = 3 where ResolutionCode = 'Fixed'");
  EXPECT_EQ(Holders(), before);

  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
      {"Resolutions", "Fixed", "new", "The value 'new' already exists."},
      {"Priorities", "High", std::string(51, 'h'), "Value cannot be longer than 50 characters."},
      {"StatusCodes", "Open", "Opened", "The status 'Open' marks open issues and cannot be renamed or deleted."},
      {"StatusCodes", "Open", "OPEN", "The status 'Open' marks open issues and cannot be renamed or deleted."},
      {"StatusCodes", "Closed", "Shut down", "Value cannot be longer than 6 characters."},
  };
  for (const auto& [table, from, to, message] : cases) {
    EXPECT_FALSE(Rename(table, from, to)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(Rename("Priorities", "High", "Higher", "ab"));
  EXPECT_EQ(Message(), "Sort order must be an integer number.");
  EXPECT_FALSE(Rename("Priorities", "High", "Higher", "", 0, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Holders(), before);

  // The value's recordset holds Priorities rows: a posted name of another table is the caller's error.
  EXPECT_EQ(testsupport::ErrorNumber([&] {
              UpdateCodeTableValue(*db, "admin", GetCodeRs(*db, "admin", "Priorities", 0, "High"),
                                   Form({{"CodeValue", "High"}, {"TableName", "Severities"}}));
            }),
            static_cast<int32_t>(0x80040001));
  EXPECT_EQ(testsupport::ErrorNumber([&] { Rename("Priorities", "Nothing", "High"); }),
            static_cast<int32_t>(0x80040001));
}

TEST_F(CodeValuesTest, UnchangedValueStoresItsSortOrder) {
  ASSERT_TRUE(Rename("Priorities", "High", "High", "8")) << Message();
  EXPECT_EQ(raw.Text("select SortOrder from Priorities where PriorityCode = 'High'"), "8");
  ASSERT_TRUE(Rename("ProjectModules", "Core", "Core", "8", 1)) << Message();
}

TEST_F(CodeValuesTest, DeleteRefusals) {
  const auto before = Holders();
  EXPECT_FALSE(Delete("Priorities", {"Low", "High"}));
  EXPECT_EQ(Message(), "The code 'Low' is used by at least one issue and cannot be deleted. Codes can be renamed.");
  EXPECT_FALSE(Delete("ProjectBuilds", {"%20"}, 1));
  EXPECT_EQ(Message(), "The code '<Blank>' is used by at least one issue and cannot be deleted. Codes can be renamed.");
  EXPECT_FALSE(Delete("Resolutions", {"Not+reproducible", "Duplicate"}));
  EXPECT_EQ(Message(),
            "The code 'Duplicate' has been used by an issue, or is currently being used, and cannot be deleted. "
            "Codes can be renamed.");
  // The blank resolution belongs to the issue-create state, whatever no issue holds it.
  EXPECT_FALSE(Delete("Resolutions", {"%20"}));
  EXPECT_EQ(Message(),
            "The code '<Blank>' has been used by an issue, or is currently being used, and cannot be deleted. "
            "Codes can be renamed.");
  EXPECT_FALSE(Delete("StatusCodes", {"open"}));
  EXPECT_EQ(Message(), "The status 'Open' marks open issues and cannot be renamed or deleted.");
  EXPECT_FALSE(Delete("ProjectUsers", {"bob"}, 1));
  EXPECT_EQ(Message(), "The table 'ProjectUsers' is not a code table.");
  EXPECT_FALSE(Delete("Priorities", {"Low"}, 0, "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  EXPECT_EQ(Holders(), before);
  EXPECT_EQ(Count("from Priorities"), 5);
  EXPECT_EQ(testsupport::ErrorNumber([&] { Delete("Nope", {"x"}); }), static_cast<int32_t>(0x80040001));
}

TEST_F(CodeValuesTest, LastValueRule) {
  ASSERT_TRUE(CreateCodeTable(*db, "admin",
                              Form({{"TableName", "Colours"}, {"TableFriendlyName", "Colours"},
                                    {"TableFriendlyNameSingular", "Paint Colour"}, {"TableDefaultSortOrder", "ASC"},
                                    {"TableFieldName", "Colour"}})));
  ASSERT_TRUE(Add({{"CodeValue", "Red"}, {"TableName", "Colours"}}));
  EXPECT_FALSE(Delete("Colours", {"Red", "+"}));
  EXPECT_EQ(Message(), "At least one paint colour is required.");
  EXPECT_EQ(Count("from Colours"), 2);
  ASSERT_TRUE(Delete("Colours", {"+"})) << Message();
  EXPECT_EQ(raw.Rows("select Colour from Colours"), std::vector<std::string>{"Red"});
}

TEST_F(CodeValuesTest, UnusedResolutionTakesItsWorkflowWithIt) {
  raw.Exec("insert into WorkflowStateGroups (StateId, GroupCode) values (7, 'Testers'); "
           "insert into WorkflowStateTeamLeads (StateId, GroupCode) values (7, 'Testers'); "
           "insert into WorkflowActionPts (ActionId, x, y) values (9, 1, 2); "
           "insert into WorkflowStateValidations (StateId, FieldName) values (7, 'Summary'); "
           "insert into EMailNotificationRules (ProjectId, NotificationRuleName, Active, TemplateName, "
           "NotificationEventType, WorkflowId, ActionId, RecipientType, RecipientAddress) "
           "select -1, 'On not reproducible', 1, TemplateName, 4, 1, 9, 1, '' from EMailTemplates limit 1");
  ASSERT_EQ(Count("from EMailNotificationRules where ActionId = 9"), 1);
  ASSERT_TRUE(Delete("Resolutions", {"Not%20reproducible"})) << Message();
  EXPECT_EQ(Count("from WorkflowStates where StateId = 7"), 0);
  EXPECT_EQ(Count("from WorkflowActions where ActionId in (9, 13)"), 0);
  EXPECT_EQ(Count("from WorkflowActionAssignments where ActionId in (9, 13)"), 0);
  EXPECT_EQ(Count("from WorkflowActionPts where ActionId = 9"), 0);
  EXPECT_EQ(Count("from WorkflowStateValidations where StateId = 7"), 0);
  EXPECT_EQ(Count("from WorkflowStateGroups where StateId = 7"), 0);
  EXPECT_EQ(Count("from WorkflowStateTeamLeads where StateId = 7"), 0);
  EXPECT_EQ(Count("from EMailNotificationRules where ActionId = 9"), 0);
  EXPECT_EQ(Count("from WorkflowActions"), 11);
}

TEST_F(CodeValuesTest, ByName) {
  auto object = ByName();
  EXPECT_TRUE(object->Call("CreateCodeTableValue",
                           {Variant("admin"), Posted({{"CodeValue", "Later"}, {"TableName", "Priorities"},
                                                    {"SortOrder", "6"}})})
                  .ToBool());
  Variant rs = object->Call("GetCodeRs", {Variant("admin"), Variant("Priorities"), Variant(0), Variant("Later")});
  EXPECT_TRUE(object->Call("UpdateCodeTableValue",
                           {Variant("admin"), rs, Posted({{"CodeValue", "Someday"}, {"TableName", "Priorities"}})})
                  .ToBool());
  EXPECT_TRUE(object->Call("DeleteCodeTableValue", {Variant("admin"), Variant("Priorities"), Variant(0),
                                                    Posted({{"chkCode", "Someday"}})})
                  .ToBool());
  EXPECT_EQ(Count("from Priorities where PriorityCode in ('Later', 'Someday')"), 0);
}

}  // namespace
}  // namespace brisquel::configtest

// A site that holds issue fields named as SQL and SQLite keep names for themselves (made before
// the name rule refused them): every statement that names them quotes them, and the row versions
// find a row by the key of Issues, which no such column shadows.
#include <gtest/gtest.h>

#include "issues/issue_list.h"
#include "issues/issue_writers.h"
#include "issues/statistics.h"
#include "workflow_site.h"

namespace brisquel {
namespace {

using writertest::FieldList;

const FieldList kNewIssue{
    {"ProjectCode", "1"},        {"ModuleCode", "Core"},     {"Summary", "Saving a layout loses its name"},
    {"PriorityCode", "High"},    {"SeverityCode", "Major"},  {"DetectedInBuildCode", "1.1"},
    {"VerifiedInBuildCode", ""}, {"Comments", "Steps."},     {"ResolutionCode", "New"},
    {"StatusCode", "Open"},      {"AssignedToUser", "bob"},
};

class ReservedColumnsTest : public writertest::WorkflowSite {
 protected:
  void SetUp() override {
    WorkflowSite::SetUp();
    // Two text fields and a list field on the priorities.
    sql->Exec(
        "ALTER TABLE Issues ADD COLUMN \"select\" VARCHAR(100) NOT NULL DEFAULT '';"
        "ALTER TABLE Issues ADD COLUMN \"rowid\" VARCHAR(100) NOT NULL DEFAULT '';"
        "ALTER TABLE Issues ADD COLUMN \"Order\" VARCHAR(50) NOT NULL DEFAULT '';"
        "INSERT INTO IssueFields (FieldName, FieldFriendlyName, TooltipForFilter, Representation, NumLines, "
        "  TextMaxLength, TableName, DataEntryField, FilterFieldName, FilterFqFieldName, FilterFieldType) VALUES "
        "  ('select', 'Select', '', 'text', 1, 100, '', 1, 'select', 'Issues.select', 0),"
        "  ('rowid', 'Row', '', 'text', 1, 100, '', 1, 'rowid', 'Issues.rowid', 0),"
        "  ('Order', 'Order', '', 'combo', 0, 0, 'Priorities', 1, 'Order', 'Issues.Order', 4);"
        "INSERT INTO DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) VALUES "
        "  (1, 99, 1, 'select'), (1, 99, 2, 'rowid');"
        "UPDATE Issues SET \"select\" = 'chosen' WHERE IssueId IN (2, 5);"
        "UPDATE Issues SET \"Order\" = CASE WHEN IssueId < 4 THEN 'Low' ELSE 'Urgent' END;");
  }
};

TEST_F(ReservedColumnsTest, ListsSearchChartsAndWritesNameThemQuoted) {
  const int32_t id =
      CreateIssue(*db, "alice", writertest::Form(kNewIssue, {{"select", "chosen as well"}, {"rowid", "r1"}}));
  ASSERT_GT(id, 0) << db->LastErrorMessage();
  EXPECT_EQ(sql->Text("select \"select\" || '|' || \"rowid\" from Issues where IssueId = " + std::to_string(id)),
            "chosen as well|r1");
  auto found = FindIssueByTextRs(*db, "alice", -1, true, "Issues.IssueId", 0, "chosen");
  ASSERT_NE(found, nullptr) << db->LastErrorMessage();
  EXPECT_EQ(found->RecordCount(), 3);
  // Urgent sorts before Low.
  auto sorted = GetFilteredIssuesRs(*db, -1, "s:all", "alice", "Order_Priorities.SortOrder", 1);
  ASSERT_NE(sorted, nullptr) << db->LastErrorMessage();
  sorted->MoveFirst();
  EXPECT_EQ(sorted->Value("IssueId").ToLong(), 3);
  auto chart = GetDistributionData(*db, "admin", 1, "s:all:Order");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(db->LastErrorMessage(), "");
  EXPECT_EQ(chart->RecordCount(), 3);  // Low, Urgent, and the new issue's ''

  // A write gives a new version to its own row only.
  const std::string before = sql->Text("select group_concat(LastUpdated) from Issues where IssueId <> 2");
  sql->Exec("UPDATE Issues SET Summary = 'Edited' WHERE IssueId = 2");
  EXPECT_EQ(sql->Text("select group_concat(LastUpdated) from Issues where IssueId <> 2"), before);
  EXPECT_GT(sql->Int("select LastUpdated from Issues where IssueId = 2"),
            sql->Int("select max(LastUpdated) from Issues where IssueId <> 2"));
}

}  // namespace
}  // namespace brisquel

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/com_error.h"
#include "workflow_editor.h"

namespace brisquel::workflowtest {
namespace {

using automation::Variant;

class WorkflowReads : public WorkflowSite {
 protected:
  void SetUp() override {
    WorkflowSite::SetUp();
    sql->Exec(
        "INSERT INTO WorkflowStateTeamLeads (StateId, GroupCode) VALUES (1, 'Testers');"
        "INSERT INTO WorkflowActionPts (ActionId, x, y) VALUES (3, 10.5, 20), (3, 30, 40);");
  }
  // A reader called by name, as the pages call it.
  RecordsetPtr ByName(const std::string& reader, std::vector<Variant> args) {
    auto rs = std::dynamic_pointer_cast<ado::Recordset>(db->Call(reader, std::move(args)).ToObject());
    EXPECT_TRUE(rs) << reader;
    return rs;
  }
};

TEST_F(WorkflowReads, EachReaderGivesItsRowsByName) {
  struct Case {
    const char* reader;
    int32_t id;
    const char* column;
    std::vector<std::string> values;
    bool sorted;  // the reader promises an order
  };
  const std::vector<Case> cases = {
      {"GetWorkflowResolutionsRs", 1, "ResolutionCode",
       {"Duplicate", "Fixed", "New", "Not reproducible", "Will not fix"}, true},
      {"GetWorkflowStatesRs", 1, "StateId", {"1", "6", "3", "4", "2", "7", "5"}, true},
      {"GetWorkflowStateGroupsRs", 1, "GroupCode", {"Customers", "Developers", "Testers"}, false},
      {"GetWorkflowStateTeamLeadsRs", 1, "GroupCode", {"Testers"}, false},
      {"GetWorkflowActionsRs", 1, "ActionId", {"1", "10", "11", "12", "13", "2", "3", "4", "5", "6", "7", "8", "9"},
       false},
      {"GetWorkflowActionPtsRs", 3, "x", {"10.5", "30"}, false},
      {"GetWorkflowStateValidationsRs", 2, "FieldName", {"Summary"}, false},
      {"GetWorkflowActionAssignmentsRs", 3, "GroupCode", {"Testers"}, false},
  };
  for (const Case& c : cases) {
    auto rs = ByName(c.reader, {Variant(c.id)});
    std::vector<std::string> got = Texts(rs, c.column);
    if (!c.sorted) std::sort(got.begin(), got.end());
    EXPECT_EQ(got, c.values) << c.reader;
    EXPECT_EQ(rs->ActiveConnection(), nullptr) << c.reader << " is detached";
    EXPECT_EQ(rs->LockType(), ado::adLockBatchOptimistic) << c.reader;
  }
  EXPECT_EQ(Texts(ByName("GetSiteWorkflowRs", {}), "WorkflowId"), std::vector<std::string>{"1"});
}

TEST_F(WorkflowReads, AnIdOfNothingGivesAnOpenEmptyRecordset) {
  for (const char* reader : {"GetWorkflowResolutionsRs", "GetWorkflowStatesRs", "GetWorkflowStateGroupsRs",
                             "GetWorkflowStateTeamLeadsRs", "GetWorkflowActionsRs", "GetWorkflowActionPtsRs",
                             "GetWorkflowStateValidationsRs", "GetWorkflowActionAssignmentsRs"}) {
    auto rs = ByName(reader, {Variant(999)});
    EXPECT_EQ(rs->State(), ado::adStateOpen) << reader;
    EXPECT_TRUE(rs->IsBOF() && rs->IsEOF()) << reader;
  }
}

TEST_F(WorkflowReads, TheSiteWorkflowIsEveryRowMarkedSiteDefault) {
  sql->Exec("UPDATE Workflows SET SiteDefault = 0");
  auto none = GetSiteWorkflowRs(*db);
  EXPECT_TRUE(none->IsBOF() && none->IsEOF());
  sql->Exec("INSERT INTO Workflows (WorkflowId, SiteDefault, Version) VALUES (2, 1, 1), (3, 0, 1);"
            "UPDATE Workflows SET SiteDefault = 1 WHERE WorkflowId = 1");
  std::vector<std::string> ids = Texts(GetSiteWorkflowRs(*db), "WorkflowId");
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2"}));
}

TEST_F(WorkflowReads, AChangedRecordsetIsStoredUnlessTheRowChangedMeanwhile) {
  auto rs = GetWorkflowStatesRs(*db, 1);
  rs->Find("StateId = 2");
  rs->SetValue("StateName", Variant("Brand new"));
  db->WriteBack(*rs);
  EXPECT_EQ(sql->Text("select StateName from WorkflowStates where StateId = 2"), "Brand new");

  auto stale = GetWorkflowStatesRs(*db, 1);
  sql->Exec("UPDATE WorkflowStates SET StateName = 'Theirs' WHERE StateId = 3");
  stale->Find("StateId = 3");
  stale->SetValue("StateName", Variant("Mine"));
  EXPECT_EQ(testsupport::ErrorNumber([&] { db->WriteBack(*stale); }), ado::err::kWriteConflict);
  EXPECT_EQ(sql->Text("select StateName from WorkflowStates where StateId = 3"), "Theirs");
}

TEST_F(WorkflowReads, AFailedReadIsRaisedUnderItsOwnName) {
  auto closed = std::make_shared<Database>();
  closed->SetLastErrorMessage("kept");
  automation::ComError e = testsupport::ErrorOf([&] { GetWorkflowActionPtsRs(*closed, 3); });
  EXPECT_NE(e.source.find("Database.GetWorkflowActionPtsRs"), std::string::npos) << e.source;
  EXPECT_EQ(closed->LastErrorMessage(), "kept");
}

}  // namespace
}  // namespace brisquel::workflowtest

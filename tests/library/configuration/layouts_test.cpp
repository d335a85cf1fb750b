// The summary layouts and the issue entry layout on real site files.
#include <gtest/gtest.h>

#include <functional>

#include "automation/automation.h"
#include "automation/input_fault.h"
#include "config_site.h"
#include "configuration/issue_form.h"
#include "core/lookups.h"
#include "eventlog/eventlog.h"

namespace brisquel::configtest {
namespace {

using automation::Variant;

// A grid of rows, posted row by row.
Fields Grid(const std::string& name, const std::vector<std::vector<std::string>>& rows, size_t perRow = 3) {
  Fields f{{"LayoutName", name}, {"NumIssueFields", std::to_string(perRow)}};
  for (const auto& row : rows)
    for (const auto& cell : row) f.emplace_back("Field", cell);
  return f;
}

// The entry form: NumFields per editor row and five cells per row.
Fields Entry(const std::vector<std::pair<std::string, std::vector<std::string>>>& rows) {
  Fields f;
  for (const auto& [used, cells] : rows) {
    f.emplace_back("NumFields", used);
    for (size_t i = 0; i < 5; ++i) f.emplace_back("Field", i < cells.size() ? cells[i] : "");
  }
  return f;
}

class LayoutsTest : public ConfigSite {
 protected:
  std::vector<std::string> Cells(const std::string& user, const std::string& layout) {
    return raw.Rows("select RowNumber || ':' || DisplayOrder || ':' || FieldName from SummaryLayoutFields where "
                    "UserId = '" + user + "' and LayoutName = '" + layout + "' order by RowNumber, DisplayOrder");
  }
  std::vector<std::string> EntryCells() {
    return raw.Rows("select LayoutId || ':' || RowNumber || ':' || DisplayOrder || ':' || FieldName "
                    "from DataEntryLayoutFields order by LayoutId, RowNumber, DisplayOrder");
  }
  long long NumRows(const std::string& user, const std::string& layout) {
    return raw.Int("select NumRows from SummaryLayouts where UserId = '" + user + "' and LayoutName = '" + layout + "'");
  }
  bool UpdateEntry(const Fields& f, const std::string& user = "admin") {
    return UpdateDataEntryLayout(*db, user, GetDataEntryLayoutRs(*db), Form(f));
  }
};

TEST_F(LayoutsTest, CellsLeaveNoGaps) {
  ASSERT_TRUE(CreateLayout(*db, "bob", Form(Grid("Mine", {{"", "IssueId", ""}, {"", "", ""}, {"Summary", "", "StatusCode"}}))))
      << Message();
  EXPECT_EQ(NumRows("bob", "Mine"), 2);
  EXPECT_EQ(Cells("bob", "Mine"), (std::vector<std::string>{"1:1:IssueId", "2:1:Summary", "2:2:StatusCode"}));
  ASSERT_TRUE(CreateLayout(*db, "bob", Form(Grid("Empty", {{"", "", ""}}))));
  EXPECT_EQ(NumRows("bob", "Empty"), 0);
  EXPECT_TRUE(Cells("bob", "Empty").empty());
}

TEST_F(LayoutsTest, CreateRefusals) {
  const std::vector<std::pair<Fields, std::string>> cases = {
      {Grid(std::string(21, 'n'), {{"IssueId", "", ""}}), "Name cannot be longer than 20 characters."},
      {Grid(" ", {{"IssueId", "", ""}}), "Name cannot be blank."},
      {Grid("default", {{"IssueId", "", ""}}), "The layout 'default' already exists."},
      {Grid("Mine", {{"IssueId", "", ""}}, 0), "The number of fields per row must be a whole number of at least 1."},
      {{{"LayoutName", "Mine"}, {"NumIssueFields", "2"}, {"Field", "IssueId"}},
       "The layout grid must hold whole rows of fields."},
  };
  for (const auto& [fields, message] : cases) {
    EXPECT_FALSE(CreateLayout(*db, "bob", Form(fields))) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_EQ(Count("from SummaryLayouts where UserId = 'bob'"), 1);
}

TEST_F(LayoutsTest, UpdateRenamesButDefaultKeepsItsName) {
  const std::string thirty(30, 'n');
  ASSERT_TRUE(UpdateLayout(*db, "bob", GetSummaryLayoutRs(*db, "bob", "Default"),
                           Form(Grid(thirty, {{"Summary", "", ""}}))))
      << Message();
  EXPECT_EQ(Cells("bob", "Default"), std::vector<std::string>{"1:1:Summary"});
  EXPECT_EQ(NumRows("bob", "Default"), 1);
  ASSERT_TRUE(CreateLayout(*db, "bob", Form(Grid("Short", {{"IssueId", "", ""}}))));
  ASSERT_TRUE(UpdateLayout(*db, "bob", GetSummaryLayoutRs(*db, "bob", "Short"),
                           Form(Grid(thirty, {{"IssueId", "Summary", ""}, {"", "", "StatusCode"}}))))
      << Message();
  EXPECT_EQ(Count("from SummaryLayouts where UserId = 'bob' and LayoutName = 'Short'"), 0);
  EXPECT_EQ(Cells("bob", thirty), (std::vector<std::string>{"1:1:IssueId", "1:2:Summary", "2:1:StatusCode"}));
  EXPECT_FALSE(CreateLayout(*db, "bob", Form(Grid(thirty, {{"IssueId", "", ""}}))));
  EXPECT_EQ(Message(), "Name cannot be longer than 20 characters.");
}

TEST_F(LayoutsTest, UpdateRefusals) {
  ASSERT_TRUE(CreateLayout(*db, "bob", Form(Grid("Other", {{"IssueId", "", ""}}))));
  auto stale = GetSummaryLayoutRs(*db, "bob", "Other");
  raw.Exec("update SummaryLayouts set NumRows = 5 where UserId = 'bob' and LayoutName = 'Other'");
  EXPECT_FALSE(UpdateLayout(*db, "bob", stale, Form(Grid("Other", {{"Summary", "", ""}}))));
  EXPECT_EQ(Message(), "Another user has changed this layout. You must cancel your changes.");
  EXPECT_EQ(Cells("bob", "Other"), std::vector<std::string>{"1:1:IssueId"});
  EXPECT_FALSE(UpdateLayout(*db, "bob", GetSummaryLayoutRs(*db, "bob", "Other"),
                            Form(Grid("DEFAULT", {{"Summary", "", ""}}))));
  EXPECT_EQ(Message(), "The layout 'DEFAULT' already exists.");
  EXPECT_FALSE(UpdateLayout(*db, "bob", GetSummaryLayoutRs(*db, "bob", "Other"), Form(Grid(std::string(51, 'n'), {}))));
  EXPECT_EQ(Message(), "Name cannot be longer than 50 characters.");
  // Only a layout of the user's own.
  EXPECT_EQ(testsupport::ErrorNumber([&] {
              UpdateLayout(*db, "alice", GetSummaryLayoutRs(*db, "bob", "Other"), Form(Grid("Taken", {})));
            }),
            static_cast<int32_t>(0x80040001));
  EXPECT_EQ(Count("from SummaryLayouts where LayoutName = 'Taken'"), 0);
}

// A row handed back that is not the writer's (another user's layout, another table's rows) came
// from a page's post: refused as the caller's input with &H80040001, one warning logged, nothing written.
TEST_F(LayoutsTest, ARowOfAnotherUserOrTableIsTheCallersInput) {
  const Fields grid = Grid("Taken", {{"Summary", "", ""}});
  const Fields entry = Entry({{"1", {"ProjectCode"}}});
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { UpdateLayout(*db, "alice", GetSummaryLayoutRs(*db, "bob", "Default"), Form(grid)); },
       "The layout is not one of alice's layouts."},
      {[&] { UpdateLayout(*db, "bob", GetDataEntryLayoutRs(*db), Form(grid)); },
       "The recordset does not hold SummaryLayouts rows."},
      {[&] { UpdateDataEntryLayout(*db, "admin", GetSummaryLayoutRs(*db, "bob", "Default"), Form(entry)); },
       "The recordset does not hold DataEntryLayouts rows."},
  };
  const std::vector<std::string> layouts = raw.Rows("select UserId || LayoutName from SummaryLayouts");
  const std::vector<std::string> cells = EntryCells();
  for (const auto& [call, description] : cases) {
    auto events = eventlog::CaptureInMemory();
    try {
      call();
      ADD_FAILURE() << "no error: " << description;
    } catch (const automation::InputFault& e) {
      EXPECT_EQ(e.number, static_cast<int32_t>(0x80040001));
      EXPECT_EQ(e.description, description);
    }
    ASSERT_EQ(events->Events().size(), 1u) << description;
    EXPECT_EQ(events->Events()[0].type, eventlog::Type::Warning) << description;
    eventlog::SetSink(nullptr);
  }
  EXPECT_EQ(raw.Rows("select UserId || LayoutName from SummaryLayouts"), layouts);
  EXPECT_EQ(EntryCells(), cells);
}

TEST_F(LayoutsTest, DeleteKeepsTheLastLayout) {
  ASSERT_TRUE(CreateLayout(*db, "bob", Form(Grid("Other", {{"IssueId", "", ""}}))));
  EXPECT_FALSE(DeleteLayout(*db, "bob", Form({{"chkLayout", "Other"}, {"chkLayout", "Default"}})));
  EXPECT_EQ(Message(), "Cannot delete your last layout (at least one layout is required).");
  EXPECT_EQ(Count("from SummaryLayouts where UserId = 'bob'"), 2);
  EXPECT_EQ(Cells("bob", "Other"), std::vector<std::string>{"1:1:IssueId"});
  ASSERT_TRUE(DeleteLayout(*db, "bob", Form({{"chkLayout", "Oth%65r"}}))) << Message();
  EXPECT_EQ(Count("from SummaryLayoutFields where UserId = 'bob' and LayoutName = 'Other'"), 0);
  EXPECT_EQ(raw.Text("select DefaultLayout from Users where UserId = 'bob'"), "Default");
}

TEST_F(LayoutsTest, EntryLayoutStoresUsedCellsOfLayoutOne) {
  raw.Exec("insert into DataEntryLayouts (LayoutId, LayoutName, NumRows) values (0, 'Older', 7); "
           "insert into DataEntryLayoutFields (LayoutId, RowNumber, DisplayOrder, FieldName) values (2, 1, 1, 'Summary')");
  ASSERT_TRUE(UpdateEntry(Entry({{"3", {"ProjectCode", "", "Summary", "ModuleCode"}},
                                 {"", {"PriorityCode"}},
                                 {"1", {"SeverityCode", "Summary"}},
                                 {"0", {"Comments"}}})))
      << Message();
  EXPECT_EQ(EntryCells(), (std::vector<std::string>{"1:1:1:ProjectCode", "1:1:2:", "1:1:3:Summary", "1:2:1:SeverityCode",
                                                    "2:1:1:Summary"}));
  EXPECT_EQ(raw.Rows("select LayoutId || ':' || NumRows from DataEntryLayouts order by LayoutId"),
            (std::vector<std::string>{"0:7", "1:3"}));
}

TEST_F(LayoutsTest, EntryLayoutRefusals) {
  const auto before = EntryCells();
  const std::vector<std::pair<Fields, std::string>> cases = {
      {Entry({{"1", {"Summary", "ProjectCode"}}}), "The project field must be on the data entry form."},
      {Entry({{"", {"ProjectCode"}}}), "The project field must be on the data entry form."},
      {Entry({{"6", {"ProjectCode"}}}), "The number of fields of a row must be a whole number from 0 to 5."},
      {Entry({{"1.5", {"ProjectCode"}}}), "The number of fields of a row must be a whole number from 0 to 5."},
      {Entry({{"-1", {"ProjectCode"}}}), "The number of fields of a row must be a whole number from 0 to 5."},
      {{{"NumFields", "1"}, {"Field", "ProjectCode"}}, "The entry form grid must hold five cells for every row."},
  };
  for (const auto& [fields, message] : cases) {
    EXPECT_FALSE(UpdateEntry(fields)) << message;
    EXPECT_EQ(Message(), message);
  }
  EXPECT_FALSE(UpdateEntry(Entry({{"1", {"ProjectCode"}}}), "alice"));
  EXPECT_EQ(Message(), "Permission denied.");
  auto stale = GetDataEntryLayoutRs(*db);
  raw.Exec("update DataEntryLayouts set NumRows = 9 where LayoutId = 1");
  EXPECT_FALSE(UpdateDataEntryLayout(*db, "admin", stale, Form(Entry({{"1", {"ProjectCode"}}}))));
  EXPECT_EQ(Message(), "Another user has changed this layout. You must cancel your changes.");
  EXPECT_EQ(EntryCells(), before);
}

TEST_F(LayoutsTest, ByName) {
  auto object = ByName();
  EXPECT_TRUE(object->Call("CreateLayout", {Variant("bob"), Posted(Grid("Mine", {{"IssueId", "", ""}}))}).ToBool());
  Variant rs = object->Call("GetSummaryLayoutRs", {Variant("bob"), Variant("Mine")});
  EXPECT_TRUE(object->Call("UpdateLayout", {Variant("bob"), rs, Posted(Grid("Ours", {{"Summary", "", ""}}))}).ToBool());
  EXPECT_TRUE(object->Call("DeleteLayout", {Variant("bob"), Posted({{"chkLayout", "Ours"}})}).ToBool());
  Variant entry = object->Call("GetDataEntryLayoutRs");
  EXPECT_TRUE(object->Call("UpdateDataEntryLayout", {Variant("admin"), entry, Posted(Entry({{"1", {"ProjectCode"}}}))})
                  .ToBool());
  EXPECT_EQ(EntryCells(), std::vector<std::string>{"1:1:1:ProjectCode"});
}

}  // namespace
}  // namespace brisquel::configtest

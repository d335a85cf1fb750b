#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter_site.h"
#include "core/error_protocol.h"
#include "support/com_error.h"

namespace brisquel::filtertest {
namespace {

using automation::Variant;

constexpr const char* kConflict = "Another session has changed this filter. You must cancel your changes.";

// A one-line wizard text of exactly `length` characters.
std::string ExpressionOfLength(size_t length) {
  return "contains Summary \"" + std::string(length - 19, 'x') + "\"";
}

class FilterWritersTest : public FilterSite {};

TEST_F(FilterWritersTest, CreateChecksNameAndCriteriaInOrder) {
  const std::string criteria = "is_empty Summary ";
  const std::vector<std::pair<std::shared_ptr<MultipartFormData>, std::string>> cases = {
      {Wizard(std::string(51, 'n'), criteria), "Name cannot be longer than 50 characters."},
      {Wizard("   ", criteria), "Name cannot be blank."},
      {Wizard("", ""), "Name cannot be blank."},
      {Wizard("w", "  "), "Criteria cannot be blank."},
      {Wizard("w", "\r\n"), "Criteria cannot be blank."},
      {Wizard("w", ExpressionOfLength(3901)), "Criteria cannot be longer than 3900 characters."},
      {Advanced("a", ""), "Criteria cannot be blank."},
      {Advanced("a", "Issues.IssueId > " + std::string(3884, '1')), "Criteria cannot be longer than 3900 characters."},
      // The criteria check's sentence comes back unchanged.
      {Advanced("a", "Nosuch = 1"), "Invalid criteria (invalid field name 'Nosuch')."},
      {Advanced("a", "ProjectId=1;"), "Invalid criteria (incorrect syntax near ';')."},
      // A wizard line that cannot become its SQL, whatever SQL is posted with it.
      {Wizard("w", "contains Nosuch \"x\"", "1=1"), "Invalid criteria (unknown field name 'Nosuch')."},
      {Wizard("w", "is_checked Summary ", "1=1"),
       "Invalid criteria (the condition 'is checked' does not apply to the field 'Summary')."},
      {Wizard("w", "is_less_than IssueId 3 or 1=1", "1=1"), "Invalid criteria ('3 or 1=1' is not a number)."},
      {Wizard("w", "on DateOpened \"1/1/2025' or ''='\"", "1=1"),
       "Invalid criteria ('1/1/2025' or ''='' is not a date)."},
      {Wizard("w", "(is_empty Summary ", "1=1"), "Invalid criteria (mismatched parenthesis)."},
      {Wizard("w", "and is_empty Summary ", "1=1"),
       "Invalid criteria (the first criterion cannot start with 'and' or 'or')."},
  };
  for (const auto& [form, message] : cases) {
    EXPECT_FALSE(CreateFilter(*db, "admin", form)) << message;
    EXPECT_EQ(db->LastErrorMessage(), message);
  }
  EXPECT_EQ(FilterCount(), 0);

  ASSERT_TRUE(CreateFilter(*db, "admin", Wizard(std::string(50, 'n'), ExpressionOfLength(3900))))
      << db->LastErrorMessage();
  EXPECT_EQ(db->LastErrorMessage(), "");
  ASSERT_TRUE(CreateFilter(*db, "admin", Wizard("  padded  ", "  " + criteria)));
  EXPECT_EQ(Stored("padded"), "0|is_empty Summary|Issues.Summary = ''\r\n");
}

TEST_F(FilterWritersTest, AnAdvancedFilterIsStoredInBothColumns) {
  ASSERT_TRUE(CreateFilter(*db, "admin", Advanced("open ones", " Issues.StatusCode = 'Open' ", "ON")))
      << db->LastErrorMessage();
  EXPECT_EQ(Stored("open ones"), "1|Issues.StatusCode = 'Open'|Issues.StatusCode = 'Open'");
  EXPECT_EQ(Listed("open ones"), (std::set<int>{1, 2, 5}));
  EXPECT_FALSE(CreateFilter(*db, "admin", Advanced("Open Ones", "Issues.IssueId = 1")));
  EXPECT_EQ(db->LastErrorMessage(), "The filter 'Open Ones' already exists.");
  // Another user may have a filter of that name.
  EXPECT_TRUE(CreateFilter(*db, "alice", Advanced("open ones", "Issues.IssueId = 1")));
}

TEST_F(FilterWritersTest, AnAdoptedConnectionServesTheCheck) {
  Database adopting;
  adopting.SetActiveConnection(db->GetActiveConnection());
  ASSERT_TRUE(CreateFilter(adopting, "admin", Advanced("adopted", "Issues.IssueId = 4"))) << adopting.LastErrorMessage();
  EXPECT_FALSE(CreateFilter(adopting, "admin", Advanced("refused", "Nosuch = 4")));
  EXPECT_EQ(adopting.LastErrorMessage(), "Invalid criteria (invalid field name 'Nosuch').");
  EXPECT_EQ(Listed("adopted"), std::set<int>{4});
}

TEST_F(FilterWritersTest, AWizardFilterStoresTheSqlTheLibraryMakes) {
  ASSERT_TRUE(CreateFilter(*db, "admin", Wizard("login", "contains Summary \"log%page\"", "1=1) or (1=1")))
      << db->LastErrorMessage();
  EXPECT_EQ(Stored("login"), "0|contains Summary \"log%page\"|Issues.Summary like '%log%page%'\r\n");
  EXPECT_EQ(Listed("login"), std::set<int>{1});
}

TEST_F(FilterWritersTest, EveryKindOfWizardLineListsItsIssues) {
  const std::vector<std::pair<std::string, std::set<int>>> cases = {
      {"is_(exactly) PriorityCode \"Low\"", {3, 4}},
      {"is_(exactly) ProjectCode \"Demo\"\r\nand not is_(exactly) StatusCode \"Open\"", {3, 4, 6}},
      {"is_(exactly) ModuleCode \"Core\" \"Demo\"\r\nand (is_(exactly) StatusCode \"Closed\")", {6}},
      {"contains Comments \"sesame\"", {1}},
      {"doesn't_contain Comments \"build\"", {1, 4, 5, 6}},
      {"is_empty Comments ", {5}},
      {"contains Summary \"\"\"databse\"\"\"", {3}},
      {"(is_less_than IssueId 2\r\nor is_greater_than IssueId 5)\r\nand any_time DateOpened ", {1, 6}},
      {"contains Summary \"filter\"\r\nand doesn't_contain Summary \"empty\"\r\n", {6}},
  };
  int n = 0;
  for (const auto& [expression, ids] : cases) {
    const std::string name = "f" + std::to_string(++n);
    ASSERT_TRUE(CreateFilter(*db, "admin", Wizard(name, expression))) << expression << ": " << db->LastErrorMessage();
    EXPECT_EQ(Listed(name), ids) << expression;
  }
}

TEST_F(FilterWritersTest, UpdateRewritesTheRowItWasGiven) {
  ASSERT_TRUE(CreateFilter(*db, "admin", Wizard("mine", "is_empty Summary ")));
  ASSERT_TRUE(CreateFilter(*db, "admin", Wizard("other", "is_empty Summary ")));
  auto rs = GetSummaryFilterRs(*db, "admin", "mine");
  // 3,901 characters are refused on create and taken on update; the name changes with it.
  ASSERT_TRUE(UpdateFilter(*db, "admin", rs, Wizard("renamed", ExpressionOfLength(3901), "1=1")))
      << db->LastErrorMessage();
  EXPECT_EQ(raw->Text("select FilterName || '|' || length(FilterExpression) || '|' || substr(fqFilterExpression, 1, "
                      "23) from SummaryFilters where UserId = 'admin' and FilterName <> 'other'"),
            "renamed|3901|Issues.Summary like '%x");

  // The row read before that change is stale now.
  auto stale = GetSummaryFilterRs(*db, "admin", "renamed");
  raw->Exec("update SummaryFilters set AdvancedFilter = 0 where FilterName = 'renamed'");
  EXPECT_FALSE(UpdateFilter(*db, "admin", stale, Advanced("renamed", "Issues.IssueId = 2")));
  EXPECT_EQ(db->LastErrorMessage(), kConflict);

  auto fresh = GetSummaryFilterRs(*db, "admin", "renamed");
  EXPECT_FALSE(UpdateFilter(*db, "admin", fresh, Wizard("Other", "is_empty Summary ")));
  EXPECT_EQ(db->LastErrorMessage(), "The filter 'Other' already exists.");
  EXPECT_FALSE(UpdateFilter(*db, "admin", GetSummaryFilterRs(*db, "admin", "renamed"),
                            Wizard("renamed", ExpressionOfLength(4001))));
  EXPECT_EQ(db->LastErrorMessage(), "Criteria cannot be longer than 4000 characters.");
  EXPECT_EQ(FilterCount(), 2);
}

TEST_F(FilterWritersTest, UpdateTakesOnlyARowOfTheUserItNames) {
  ASSERT_TRUE(CreateFilter(*db, "alice", Wizard("hers", "is_empty Summary ")));
  auto rs = GetSummaryFilterRs(*db, "alice", "hers");
  automation::ComError e =
      testsupport::ErrorOf([&] { UpdateFilter(*db, "admin", rs, Wizard("taken", "is_not_empty Summary ")); });
  EXPECT_EQ(e.number, kContractViolation);
  EXPECT_EQ(raw->Text("select FilterName from SummaryFilters where UserId = 'alice'"), "hers");
  EXPECT_TRUE(UpdateFilter(*db, "ALICE", GetSummaryFilterRs(*db, "alice", "hers"),
                           Wizard("hers", "is_not_empty Summary ")));
}

TEST_F(FilterWritersTest, DeleteTakesTheDecodedNamesAllOrNone) {
  for (const char* name : {"my filter", "second", "third"})
    ASSERT_TRUE(CreateFilter(*db, "admin", Wizard(name, "is_empty Summary ")));
  EXPECT_TRUE(DeleteFilter(*db, "admin", Form({})));
  EXPECT_EQ(FilterCount(), 3);
  // A name too long for any filter refuses the list: none of the call's is deleted.
  EXPECT_FALSE(DeleteFilter(*db, "admin",
                            Form({{"chkFilter", "my+filter"}, {"chkFilter", "second"}, {"chkFilter", std::string(51, 'z')}})));
  EXPECT_EQ(db->LastErrorMessage(), "Filter name cannot be longer than 50 characters.");
  EXPECT_EQ(FilterCount(), 3);
  EXPECT_TRUE(DeleteFilter(*db, "admin", Form({{"chkFilter", "my+filter"}, {"chkFilter", ""}, {"chkFilter", "th%69rd"}})));
  EXPECT_EQ(raw->Rows("select FilterName from SummaryFilters where UserId = 'admin'"), std::vector<std::string>{"second"});
}

TEST_F(FilterWritersTest, TheWritersAreCallableByName) {
  auto database = automation::CreateObject("Brisquel.Database");
  database->Put("ConnectionString", Variant(sitedb::ConnectionString(file)));
  EXPECT_TRUE(database->Call("CreateFilter", {Variant("admin"), Variant(Advanced("typed", "Issues.IssueId < 3"))}).ToBool());
  auto rs = database->Call("GetSummaryFilterRs", {Variant("admin"), Variant("typed")});
  EXPECT_TRUE(database->Call("UpdateFilter", {Variant("admin"), rs, Variant(Advanced("typed", "Issues.IssueId < 4"))})
                  .ToBool());
  EXPECT_EQ(Stored("typed"), "1|Issues.IssueId < 4|Issues.IssueId < 4");
  EXPECT_TRUE(database->Call("DeleteFilter", {Variant("admin"), Variant(Form({{"chkFilter", "typed"}}))}).ToBool());
  EXPECT_EQ(FilterCount(), 0);
}

}  // namespace
}  // namespace brisquel::filtertest

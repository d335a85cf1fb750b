#include "common/criteria.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tamsolo::criteria {
namespace {

// Summary (0), Valid (1), IssueId (2), DateOpened (3), PriorityCode (4), Comments (5),
// ModuleCode (6), DateTimeClosed (7), ProjectCode (4, the project list).
const char* const kFields =
    "Summary\r\nIssues.Summary\r\nSummary\r\n0\r\n"
    "Valid\r\nIssues.Valid\r\nValid\r\n1\r\n"
    "IssueId\r\nIssues.IssueId\r\nIssue number\r\n2\r\n"
    "DateOpened\r\nIssues.DateOpened\r\nDate opened\r\n3\r\n"
    "PriorityCode\r\nIssues.PriorityCode\r\nPriority\r\n4\r\nx\r\nHigh\r\nx\r\n\r\nx\r\nLow\r\n\r\n"
    "Comments\r\nIssues.Comments\r\nComments\r\n5\r\n"
    "ModuleCode\r\nIssues.ModuleCode\r\nModule\r\n6\r\nDemo\r\nGUI\r\nSecret\r\nCore\r\n\r\n"
    "DateTimeClosed\r\nIssues.DateTimeClosed\r\nClosed at\r\n7\r\n"
    "ProjectCode\r\nProjects.ProjectCode\r\nProject\r\n4\r\nDemo\r\nDemo\r\n\r\n";

const FieldCatalogue& Catalogue() {
  static const FieldCatalogue c = ReadAvailableFields(kFields);
  return c;
}

FilterCriterion C(const std::string& field, const std::string& op, const std::string& v1 = "",
                  const std::string& v2 = "", int32_t conj = kNone) {
  FilterCriterion c;
  c.field = FindField(Catalogue(), field);
  c.op = op;
  c.value1 = v1;
  c.value2 = v2;
  c.conjunction = conj;
  return c;
}

TEST(AvailableFields, ReadsBlocksPairsAndStopsAtALineWithoutCrLf) {
  const FieldCatalogue& c = Catalogue();
  ASSERT_EQ(c.size(), 9u);
  EXPECT_EQ(c[0]->name, "Summary");
  EXPECT_EQ(c[2]->caption, "Issue number");
  EXPECT_EQ(c[3]->type, kDate);
  // The pair with an empty second text is dropped, the one after it kept; the empty line ends
  // the block.
  ASSERT_EQ(c[4]->values.size(), 2u);
  EXPECT_EQ(c[4]->values[0].second, "High");
  EXPECT_EQ(c[4]->values[1].second, "Low");
  EXPECT_EQ(c[5]->name, "Comments");
  ASSERT_EQ(c[6]->values.size(), 2u);
  EXPECT_EQ(c[6]->values[1].first, "Secret");
  EXPECT_EQ(c[6]->values[1].second, "Core");

  // A last line without CR LF is not read; a code that is no number reads as 0.
  FieldCatalogue cut = ReadAvailableFields("A\r\nIssues.A\r\nA\r\nx2\r\nB\r\nIssues.B\r\nB\r\n2\r\nC");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0]->type, kText);
  EXPECT_EQ(cut[1]->type, kNumber);
  EXPECT_TRUE(ReadAvailableFields("").empty());
}

TEST(AvailableFields, OperatorsFollowTheTypeCode) {
  EXPECT_EQ(OperatorsOf(*FindField(Catalogue(), "PriorityCode")).size(), 5u);
  EXPECT_EQ(OperatorsOf(*FindField(Catalogue(), "ProjectCode")), std::vector<std::string>{"is (exactly)"});
  EXPECT_EQ(OperatorsOf(*FindField(Catalogue(), "DateOpened")).back(), "any time");
  FilterField odd{"X", "Issues.X", "X", 9, {}};
  EXPECT_TRUE(OperatorsOf(odd).empty());
  EXPECT_EQ(FindField(Catalogue(), "summary"), nullptr);  // names compare with case
}

struct Line {
  FilterCriterion c;
  std::string expression;
  std::string sql;
};

TEST(Criterion, ExpressionAndSqlLines) {
  FilterCriterion notClosed = C("Summary", "contains", "x");
  notClosed.negate = notClosed.close = true;
  FilterCriterion opened = C("IssueId", "is greater than", "5", "", kOr);
  opened.open = true;
  const std::vector<Line> lines = {
      {C("Summary", "is empty"), "is_empty Summary ", "Issues.Summary = ''"},
      {C("Summary", "is (exactly)", "say \"hi\""), "is_(exactly) Summary \"say \"\"hi\"\"\"",
       "Issues.Summary = 'say \"hi\"'"},
      {C("Summary", "contains", "O'Brian"), "contains Summary \"O'Brian\"", "Issues.Summary like '%O''Brian%'"},
      {C("Summary", "doesn't contain", "a", "", kAnd), "and doesn't_contain Summary \"a\"",
       "and Issues.Summary not like '%a%'"},
      {notClosed, "not contains Summary \"x\")", "not (Issues.Summary like '%x%'))"},
      {opened, "or (is_greater_than IssueId 5", "or (Issues.IssueId > 5"},
      {C("Valid", "is checked"), "is_checked Valid ", "Issues.Valid = 1"},
      {C("Valid", "is not checked"), "is_not_checked Valid ", "Issues.Valid = 0"},
      {C("IssueId", "is less than", "7"), "is_less_than IssueId 7", "Issues.IssueId < 7"},
      {C("IssueId", "is (exactly)", "3"), "is_(exactly) IssueId 3", "Issues.IssueId = 3"},
      {C("PriorityCode", "is (exactly)", "High"), "is_(exactly) PriorityCode \"High\"", "Issues.PriorityCode = 'High'"},
      {C("PriorityCode", "is not empty"), "is_not_empty PriorityCode ", "Issues.PriorityCode <> ''"},
      {C("ModuleCode", "is (exactly)", "G\"U'I", "Demo"), "is_(exactly) ModuleCode \"G\"\"U'I\" \"Demo\"",
       "Issues.ModuleCode = 'G\"U''I'"},
      {C("DateOpened", "on", "2/29/2024"), "on DateOpened \"2/29/2024\"",
       "Issues.DateOpened = '2024-02-29 00:00:00.000'"},
      {C("DateOpened", "on or after", "1/5/2025"), "on_or_after DateOpened \"1/5/2025\"",
       "Issues.DateOpened >= '2025-01-05 00:00:00.000'"},
      {C("DateOpened", "on or before", "12/31/2025"), "on_or_before DateOpened \"12/31/2025\"",
       "Issues.DateOpened <= '2025-12-31 00:00:00.000'"},
      {C("DateTimeClosed", "between", "1/2/2025 08:30", "1/3/2025 17:05"),
       "between DateTimeClosed \"1/2/2025 08:30\" \"1/3/2025 17:05\"",
       "Issues.DateTimeClosed between '2025-01-02 08:30:00.000' and '2025-01-03 17:05:00.000'"},
      {C("DateOpened", "any time"), "any_time DateOpened ", "Issues.DateOpened is not null"},
      {C("DateOpened", "yesterday"), "yesterday DateOpened ",
       "Issues.DateOpened >= strftime('%Y-%m-%d 00:00:00.000', GetDate(), '-1 day') and Issues.DateOpened < "
       "strftime('%Y-%m-%d 00:00:00.000', GetDate())"},
      {C("Comments", "contains", "it's"), "contains Comments \"it's\"",
       "exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and "
       "IssueComments.Fieldname = 'Comments' and IssueComments.CommentText like '%it''s%')"},
      {C("Comments", "is empty"), "is_empty Comments ",
       "not exists(select * from IssueComments where IssueComments.IssueId = Issues.IssueId and "
       "IssueComments.Fieldname = 'Comments')"},
  };
  for (const Line& l : lines) {
    EXPECT_EQ(FormatCriterionExpression(l.c), l.expression);
    EXPECT_EQ(FormatCriterionSql(l.c), l.sql) << l.expression;
    FilterCriterion back = ParseFilterExpression(l.expression, Catalogue());
    ASSERT_EQ(back.field, l.c.field) << l.expression;
    EXPECT_EQ(back.op, l.c.op) << l.expression;
    EXPECT_EQ(back.value1, l.c.value1) << l.expression;
    EXPECT_EQ(back.value2, l.c.value2) << l.expression;
    EXPECT_EQ(back.conjunction, l.c.conjunction) << l.expression;
    EXPECT_EQ(std::make_tuple(back.open, back.close, back.negate), std::make_tuple(l.c.open, l.c.close, l.c.negate))
        << l.expression;
  }
}

TEST(Criterion, AnOperatorOfAnotherTypeGivesOnlyConjunctionAndParentheses) {
  FilterCriterion c = C("Valid", "contains", "x", "", kAnd);
  c.open = c.negate = c.close = true;
  EXPECT_EQ(FormatCriterionSql(c), "and (not ())");
  EXPECT_EQ(FormatCriterionExpression(c), "and (not contains Valid )");
}

TEST(Criterion, ReadingIsSafeOnShortAndOddLines) {
  // A code-4 "is empty" line has no value to strip; a grave accent stands for the apostrophe.
  FilterCriterion empty = ParseFilterExpression("is_empty PriorityCode ", Catalogue());
  EXPECT_EQ(empty.value1, "");
  EXPECT_EQ(ParseFilterExpression("doesn`t_contain Summary \"a\"", Catalogue()).op, "doesn't contain");
  for (const char* odd : {"", "and ", "(", "not ", "contains", "contains Summary", "contains Summary \"",
                          "is_(exactly) ModuleCode \"", "is_(exactly) ModuleCode \"a\"", "between DateOpened \"",
                          "between DateOpened \"1\" \"", "on DateOpened x"}) {
    FilterCriterion c = ParseFilterExpression(odd, Catalogue());
    EXPECT_LE(c.value1.size(), std::string(odd).size()) << odd;
  }
  EXPECT_EQ(ParseFilterExpression("contains Nosuch \"a\"", Catalogue()).field, nullptr);
}

TEST(WholeTexts, TwoCriteriaGiveTwoLines) {
  std::vector<FilterCriterion> list = {C("Summary", "contains", "a"), C("IssueId", "is less than", "9", "", kOr)};
  EXPECT_EQ(FormatFilterExpression(list), "contains Summary \"a\"\r\nor is_less_than IssueId 9\r\n");
  EXPECT_EQ(FormatFqFilterExpression(list), "Issues.Summary like '%a%'\r\nor Issues.IssueId < 9\r\n");
  EXPECT_EQ(FormatFilterExpression({}), "");
}

TEST(WholeTexts, ReaderKeepsTheLastLineAndDropsUnknownFields) {
  ReadResult r = ReadFilterExpression(
      "contains Summary \"a\"\r\n\r\nand is_empty Nosuch \r\nand (is_empty PriorityCode )\r\nor any_time DateOpened ",
      Catalogue());
  ASSERT_EQ(r.criteria.size(), 3u);
  EXPECT_EQ(r.criteria[1].field->name, "PriorityCode");
  EXPECT_TRUE(r.criteria[1].open && r.criteria[1].close);
  EXPECT_EQ(r.criteria[2].op, "any time");
  EXPECT_TRUE(r.hasUnknownField);
  EXPECT_EQ(r.unknownField, "Nosuch");
  EXPECT_FALSE(ReadFilterExpression("is_empty Summary \r\n", Catalogue()).hasUnknownField);
}

TEST(WholeTexts, ProblemsThatKeepALineFromBecomingSql) {
  auto opened = [](FilterCriterion c) {
    c.open = true;
    return c;
  };
  auto closed = [](FilterCriterion c) {
    c.close = true;
    return c;
  };
  const std::vector<std::pair<std::vector<FilterCriterion>, std::string>> cases = {
      {{C("Summary", "is empty")}, ""},
      {{opened(C("Summary", "is empty")), closed(C("Valid", "is checked", "", "", kAnd))}, ""},
      {{C("Valid", "contains", "x")}, "the condition 'contains' does not apply to the field 'Valid'"},
      {{C("ProjectCode", "contains", "x")}, "the condition 'contains' does not apply to the field 'ProjectCode'"},
      {{C("IssueId", "is less than", "1 or 1=1")}, "'1 or 1=1' is not a number"},
      {{C("IssueId", "is less than", "-2.5")}, ""},
      {{C("DateOpened", "on", "1/1/2025' or '1'='1")}, "'1/1/2025' or '1'='1' is not a date"},
      {{C("DateOpened", "between", "1/1/2025", "2/30/2025")}, "'2/30/2025' is not a date"},
      {{C("DateOpened", "on", "1/1/2025 10:00")}, "'1/1/2025 10:00' is not a date"},
      {{C("DateTimeClosed", "on", "1/1/2025 10:00")}, ""},
      {{C("Summary", "is empty", "", "", kAnd)}, "the first criterion cannot start with 'and' or 'or'"},
      {{C("Summary", "is empty"), C("Valid", "is checked")}, "the criterion on 'Valid' needs 'and' or 'or'"},
      {{opened(C("Summary", "is empty"))}, "mismatched parenthesis"},
      {{closed(C("Summary", "is empty")), opened(C("Valid", "is checked", "", "", kOr))}, "mismatched parenthesis"},
  };
  for (const auto& [list, problem] : cases) EXPECT_EQ(CriteriaProblem(list), problem) << FormatFilterExpression(list);
}

TEST(WholeTexts, DateTexts) {
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
      {"1/2/2025", false, "2025-01-02 00:00:00.000"},   {"12/31/1999", false, "1999-12-31 00:00:00.000"},
      {"2/29/2023", false, ""},                         {"2/29/2000", false, "2000-02-29 00:00:00.000"},
      {"13/1/2025", false, ""},                         {"1/2/25", false, ""},
      {"1/2/2025 9:05", true, "2025-01-02 09:05:00.000"}, {"1/2/2025 24:00", true, ""},
      {"1/2/2025", true, "2025-01-02 00:00:00.000"},    {"", false, ""},
  };
  for (const auto& [text, time, stored] : cases) EXPECT_EQ(StoredDateText(text, time), stored) << text;
}

}  // namespace
}  // namespace tamsolo::criteria

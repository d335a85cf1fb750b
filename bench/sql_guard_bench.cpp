// The guard's own cost on conditions near its longest (100 kB): subqueries side by side, and
// subqueries nested as deep as it allows, each over the comments and so checked for its link.
// The cost should grow linearly with the text (BigO reported as N).
#include <benchmark/benchmark.h>

#include <string>

#include "guard_catalogue.h"
#include "issues/sql_guard.h"

namespace {

namespace sqlguard = brisquel::sqlguard;

const std::string kComment =
    "exists(select 1 from IssueComments where IssueComments.IssueId = Issues.IssueId and "
    "IssueComments.CommentText like '%a''b%')";

// Subqueries joined by AND until the text holds `bytes`.
std::string SideBySide(size_t bytes) {
  std::string text = kComment;
  while (text.size() + kComment.size() + 5 <= bytes) text += " and " + kComment;
  return text;
}

// Chains of subqueries each nested in the one before, as deep as the guard takes, joined by AND
// until the text holds `bytes`.
std::string Nested(size_t bytes) {
  const std::string open =
      "exists(select 1 from IssueComments where IssueComments.IssueId = Issues.IssueId and ";
  std::string chain;
  const int depth = sqlguard::kMaxFragmentDepth;  // one parenthesis a level
  for (int i = 0; i < depth; ++i) chain += open;
  chain += "IssueComments.CommentText like '%a%'";
  for (int i = 0; i < depth; ++i) chain += ")";
  std::string text = chain;
  while (text.size() + chain.size() + 5 <= bytes) text += " and " + chain;
  return text;
}

void Run(benchmark::State& state, const std::string& text) {
  if (!sqlguard::Check(text, GuardCatalogue(), sqlguard::Fragment::Condition).empty()) {
    state.SkipWithError("the condition is refused");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(sqlguard::Check(text, GuardCatalogue(), sqlguard::Fragment::Condition));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetComplexityN(static_cast<int64_t>(text.size()));
}

void BM_GuardSubqueriesSideBySide(benchmark::State& state) {
  Run(state, SideBySide(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_GuardSubqueriesSideBySide)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_GuardSubqueriesNested(benchmark::State& state) { Run(state, Nested(static_cast<size_t>(state.range(0)))); }
BENCHMARK(BM_GuardSubqueriesNested)
    ->RangeMultiplier(2)
    ->Range(12500, 100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

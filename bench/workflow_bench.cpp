// The workflow save on a site of 100,000 issues spread over the seeded states: saving the seeded
// workflow as the diagram editor posts it back, and saving a workflow of 40 states and 200 actions
// (points and assignable groups on each) that 10 transition rules follow. Each call decodes the
// posted body, rewrites the whole definition, refreshes the issue flags and commits.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "configuration/workflow_definition.h"
#include "core/database.h"
#include "core/multipart.h"
#include "support/site_db.h"
#include "support/workflow_body.h"

namespace {

constexpr int kIssues = 100000;

std::filesystem::path SiteWithIssues() {
  std::filesystem::path file = sitedb::FreshSite(true);
  sitedb::Db raw(file);
  raw.Exec("BEGIN");
  raw.Exec("WITH RECURSIVE n(i) AS (SELECT 7 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(6 + kIssues) +
           ") INSERT INTO Issues (IssueId, ProjectId, AssignedToUser, ResolutionCode, StatusCode, CreatedByUserId, "
           "Valid, Fixed, Summary, PriorityCode, SeverityCode, ModuleCode) "
           "SELECT i, 1, 'alice', s.ResolutionCode, s.StatusCode, 'carol', s.IssueValid, s.IssueFixed, "
           "'Issue number ' || i, 'Normal', 'Minor', 'Core' FROM n "
           "JOIN WorkflowStates s ON s.StateId = 2 + i % 6");
  raw.Exec("COMMIT");
  return file;
}

using brisquel::workflowtest::Body;
using brisquel::workflowtest::EditorAction;
using brisquel::workflowtest::EditorState;

// A state at the editor's default place; every state but the create state requires a summary.
void StateParts(Body& b, long id, int type, const std::string& resolution, const std::string& status, bool fixed) {
  EditorState s;
  s.id = id;
  s.type = type;
  s.name = resolution + (status == "Open" ? "" : " - " + status);
  s.resolutionCode = resolution;
  s.statusCode = status;
  s.valid = true;
  s.fixed = fixed;
  s.top = 130;
  s.left = 250;
  s.width = 120;
  s.height = 50;
  if (type != 1) s.validations = {"Summary"};
  if (type == 1) s.createByGroups = {"Developers", "Testers", "Customers"};
  brisquel::workflowtest::StateParts(b, s);
}

void ActionParts(Body& b, long from, long to, const std::string& name) {
  const EditorAction a{1, 2, from, to, 0, {{100, 200}, {150, 200}}, name, true, "Developers", {"Developers", "Testers"}};
  brisquel::workflowtest::ActionParts(b, a);
}

// The seeded workflow: its seven states and thirteen moves.
std::string SeededBody() {
  Body b;
  b.Part("WorkflowId", "1");
  StateParts(b, 1, 1, "", "", false);
  StateParts(b, 2, 0, "New", "Open", false);
  StateParts(b, 3, 0, "Fixed", "Open", true);
  StateParts(b, 4, 0, "Fixed", "Closed", true);
  StateParts(b, 5, 0, "Will not fix", "Closed", false);
  StateParts(b, 6, 0, "Duplicate", "Closed", false);
  StateParts(b, 7, 0, "Not reproducible", "Closed", false);
  const int moves[][2] = {{1, 2}, {2, 2}, {2, 3}, {3, 4}, {3, 2}, {3, 3}, {2, 5},
                          {2, 6}, {2, 7}, {4, 2}, {5, 2}, {6, 2}, {7, 2}};
  for (const auto& m : moves) ActionParts(b, m[0], m[1], "Move");
  return b.Text();
}

// 40 states, each with five moves out of it (200 distinct moves).
std::string LargeBody() {
  Body b;
  b.Part("WorkflowId", "1");
  for (int i = 0; i < 40; ++i) StateParts(b, -1 - i, i == 0 ? 1 : 0, "R" + std::to_string(i), i % 2 ? "Closed" : "Open", false);
  for (int i = 0; i < 40; ++i)
    for (int k = 1; k <= 5; ++k) ActionParts(b, -1 - i, -1 - (i + k) % 40, "Move " + std::to_string(k));
  return b.Text();
}

bool Save(brisquel::Database& db, const std::string& body) {
  return brisquel::UpdateWorkflow(db, "admin", brisquel::GetSiteWorkflowRs(db), brisquel::workflowtest::Decoded(body));
}

void Run(benchmark::State& state, const std::filesystem::path& file, const std::string& body) {
  auto db = sitedb::Open(file);
  for (auto _ : state)
    if (!Save(*db, body)) state.SkipWithError(db->LastErrorMessage().c_str());
}

void BM_SaveSeededWorkflow(benchmark::State& state) {
  static const std::filesystem::path file = SiteWithIssues();
  Run(state, file, SeededBody());
}
BENCHMARK(BM_SaveSeededWorkflow)->Unit(benchmark::kMillisecond);

void BM_SaveLargeWorkflowWithRules(benchmark::State& state) {
  static const std::filesystem::path file = [] {
    std::filesystem::path f = SiteWithIssues();
    auto db = sitedb::Open(f);
    Save(*db, LargeBody());
    sitedb::Db raw(f);
    raw.Exec("INSERT INTO EMailNotificationRules (NotificationRuleName, NotificationEventType, WorkflowId, ActionId, "
             "RecipientType, TemplateName) SELECT 'Rule ' || ActionId, 4, 1, ActionId, 1, 'Assignment Notice' "
             "FROM WorkflowActions ORDER BY ActionId LIMIT 10");
    return f;
  }();
  Run(state, file, LargeBody());
}
BENCHMARK(BM_SaveLargeWorkflowWithRules)->Unit(benchmark::kMillisecond);

}  // namespace

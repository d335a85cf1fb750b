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

namespace {

constexpr int kIssues = 100000;
constexpr const char* kBoundary = "-----------------------------7d114d2a100b3e";

class Body {
 public:
  Body& Part(const std::string& name, const std::string& value) {
    text_ += std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
             "\r\n";
    return *this;
  }
  std::string Text() const { return text_ + kBoundary + "--\r\n"; }

 private:
  std::string text_;
};

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

void StateParts(Body& b, int id, int type, const std::string& resolution, const std::string& status, bool fixed) {
  b.Part("StateId", std::to_string(id)).Part("StateType", std::to_string(type));
  b.Part("DiagramTop", "130.000000").Part("DiagramLeft", "250.000000");
  b.Part("DiagramWidth", "120.000000").Part("DiagramHeight", "50.000000");
  b.Part("Validations", type == 1 ? "*none*" : "Summary");
  b.Part("StateName", type == 1 ? "na" : resolution + (status == "Open" ? "" : " - " + status));
  b.Part("ResolutionCode", type == 1 ? "na" : resolution).Part("StatusCode", type == 1 ? "na" : status);
  b.Part("IssueValid", type == 1 ? "na" : "on").Part("IssueFixed", type == 1 ? "na" : fixed ? "on" : "off");
  b.Part("CreateByGroups", type == 1 ? "Developers,Testers,Customers" : "\"\"").Part("CreateByTeamLeads", "\"\"");
}

void ActionParts(Body& b, int from, int to, const std::string& name) {
  b.Part("ActionId", "1").Part("ActionType", "2").Part("FromId", std::to_string(from)).Part("ToId", std::to_string(to));
  b.Part("LineType", "0").Part("Points", "100.000000,200.000000,150.000000,200.000000");
  b.Part("ActionName", name).Part("AllowAutoAssign", "yes").Part("AutoAssignsTo", "Developers");
  b.Part("CanBeAssignedTo", "\"Developers\",\"Testers\"");
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
  auto form = std::make_shared<brisquel::MultipartFormData>();
  form->SetBody(body);
  return brisquel::UpdateWorkflow(db, "admin", brisquel::GetSiteWorkflowRs(db), form);
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

#include "backup_site.h"

namespace brisquel::backuptest {
namespace {

class AgentStatusTest : public BackupSite {};

// The pages ask by name; the answer follows the agent of the test's own store.
TEST_F(AgentStatusTest, TellsWhetherTheAgentRuns) {
  std::shared_ptr<automation::Object> byName = admin;
  EXPECT_EQ(byName->Call("AgentStatus").ToLong(), agent::kStopped);
  agent::Start(dir / "agent.db");
  EXPECT_EQ(byName->Call("AgentStatus").ToLong(), agent::kRunning);
}

}  // namespace
}  // namespace brisquel::backuptest

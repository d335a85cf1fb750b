// Whether the job agent runs: the backup and restore pages say so when it does not, since
// scheduled backups wait for it.
#include "core/error_protocol.h"
#include "maintenance/db_admin.h"

namespace brisquel {

namespace {

// 1 while an agent serves this machine's job store, else 3 (stopped), as the management objects
// report an agent's status. The store's folder is made here when it is missing, so that the first
// visit to the pages readies it; one that cannot be made is raised with the sentence naming it.
int32_t AgentStatus(DbAdmin&) {
  return Procedure("DbAdmin", "AgentStatus", [] {
    const std::filesystem::path store = agent::StorePath();
    agent::MakeStoreFolder(store);
    return agent::Status(store);
  });
}

automation::Register<DbAdmin> reg([](auto& c) { c.Method("AgentStatus", &AgentStatus); });

}  // namespace

}  // namespace brisquel

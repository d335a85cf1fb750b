// Whether the job agent runs: the backup and restore pages say so when it does not, since
// scheduled backups wait for it.
#include "core/error_protocol.h"
#include "maintenance/db_admin.h"

namespace brisquel {

namespace {

// 1 while an agent serves this machine's job store, else 3 (stopped), as the management objects
// report an agent's status.
int32_t AgentStatus(DbAdmin&) {
  return Procedure("DbAdmin", "AgentStatus", [] { return agent::Status(agent::StorePath()); });
}

automation::Register<DbAdmin> reg([](auto& c) { c.Method("AgentStatus", &AgentStatus); });

}  // namespace

}  // namespace brisquel

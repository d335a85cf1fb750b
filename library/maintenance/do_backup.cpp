// Running the site's backup now: the agent set to start at boot and running, then the backup job
// queued; the outcome is read later from the job's history.
#include "core/error_protocol.h"
#include "core/lookups.h"
#include "core/writer.h"
#include "maintenance/db_admin.h"

namespace brisquel {

namespace {

constexpr std::string_view kClass = "DbAdmin";

automation::LastError AsLastError(const automation::ComError& e) { return {e.number, e.source, e.description, e.line}; }

// Starts a stopped agent and waits for it, up to 60 passes with pauses of 1, 2, ... seconds;
// false (with the sentence added to `message`) when it cannot be started.
bool EnsureRunning(DbAdmin& a, std::string& message) {
  const std::filesystem::path store = a.Management().File();
  if (agent::Status(store) == agent::kRunning) return true;
  try {
    agent::Start(store);
  } catch (const automation::ComError& e) {
    if (e.number == agent::kStartFailed)
      message += "The SQL Agent could not be started due to an error (" + e.description +
                 ").<li>This is typically caused by an incorrect user/password configuration for the SQL Agent "
                 "service startup account.";
    else
      message += "The SQL Agent could not be started, " + UnexpectedRuntimeErrorReport(AsLastError(e));
    return false;
  }
  for (int pass = 1; pass <= 60; ++pass) {
    a.Pause(pass);
    if (agent::Status(store) == agent::kRunning) break;
  }
  return true;
}

}  // namespace

void DoBackup(DbAdmin& a, const std::string& submittedByUserId) {
  Database& db = a.Site();
  Procedure(kClass, "DoBackup", [&] {
    db.SetLastErrorMessage("");
    if (!UserIsSiteAdmin(db, submittedByUserId)) {
      db.Fail(kPermissionDenied);
      return;
    }
    a.ConnectToDMO();
    std::string message;
    if (!agent::StartsAtBoot()) {
      try {
        agent::SetStartsAtBoot();
      } catch (const automation::ComError&) {
        message = "The SQL Agent could not be configured to automatically start at boot time (fyi only).\r\n";
      }
    }
    if (!EnsureRunning(a, message)) {
      db.SetLastErrorMessage(message);
      return;
    }
    try {
      const ConnectionParms& p = a.Parms();
      agent::Store& store = a.Management();
      agent::Job job = store.JobByName(p.serverName == "." ? "(local)" : p.serverName, p.databaseName + " Backup");
      store.StartJob(job.id);
    } catch (const automation::ComError& e) {
      db.SetLastErrorMessage(message + UnexpectedRuntimeErrorReport(AsLastError(e)));
      return;
    }
    a.DisconnectDMO();
    db.SetLastErrorMessage(message);
  });
}

}  // namespace brisquel

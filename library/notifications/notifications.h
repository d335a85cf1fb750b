// Notifications: queues notification e-mails for issue events, composes and sends the pending
// ones, keeps the service's schedule in the registry and sends test messages. Its members live in
// the files of their families and register themselves by name on this class.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "automation/automation.h"

namespace brisquel {

class Database;

class Notifications : public automation::Dispatchable<Notifications> {
 public:
  const std::string& GetLastErrorMessage() const { return lastErrorMessage_; }
  void SetLastErrorMessage(const std::string& s) { lastErrorMessage_ = s; }
  // An expected failure: keeps the sentence and returns false.
  bool Fail(std::string sentence) {
    lastErrorMessage_ = std::move(sentence);
    return false;
  }

  // The queue rows a sending run has already tried: a run tries each row once, so a row that
  // keeps failing never holds up the others nor spins in immediate retries (send.cpp).
  std::set<int32_t>& TriedRows() { return triedRows_; }

 private:
  std::string lastErrorMessage_;
  std::set<int32_t> triedRows_;
};

// Queues one pending EMailNotifications row per distinct address and template among the active
// rules that fire for the change, inside the caller's transaction (queueing.cpp).
bool CreatePendingNotifications(Notifications& n, Database& db, const std::string& source,
                                const std::string& submittedByUserId, int32_t issueId,
                                const std::string& fromUser, const std::string& toUser,
                                const std::string& fromResolutionCode, const std::string& fromStatusCode,
                                const std::string& toResolutionCode, const std::string& toStatusCode);

// One sending pass: connects once, sends the pending rows in order and records each outcome;
// RetryDueToErrors comes back True when a message failed to send (send.cpp).
void SendPendingNotifications(Notifications& n, Database& db, bool& retryDueToErrors);
// Database.SendNotifications: runs passes until one asks for no retry (send.cpp).
void SendNotifications(Database& db);

}  // namespace brisquel

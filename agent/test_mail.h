// The test mail step of a site's "<Db> EMail Test" job.
#pragma once

#include <string>

#include "jobstore/jobstore.h"

namespace vagent {

// Creates the library's Database by its ProgID, as any caller does, opens the site the step names
// and sends the test message to the step's address; true when the send ran, with the message for
// the history (a raised error's description, or the connection's sentence, on failure).
bool RunTestMailStep(const agent::Step& step, std::string& message);

}  // namespace vagent

// An error that is the caller's own malformed input (a posted form, a recordset image a page sent
// back), not a fault of the system. It climbs and reaches the caller like any ComError, with the
// same number and description; the library logs it once, where it is found, as a warning, so a
// client cannot fill the event log with error lines by sending junk.
#pragma once

#include "automation/automation.h"

namespace automation {

struct InputFault : ComError {
  using ComError::ComError;
};

}  // namespace automation

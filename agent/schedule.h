// When a daily schedule (frequency type 4) is next due.
#pragma once

#include <ctime>
#include <optional>

#include "jobstore/jobstore.h"

namespace vagent {

// The first occurrence of the schedule after `after` (local time): every `interval` days from its
// start date at its start time; "240000" is midnight at the end of the day; a time that a DST
// change skips runs at the first minute after the gap. None once the end date is passed.
std::optional<std::time_t> NextOccurrence(const agent::Schedule& s, std::time_t after);

}  // namespace vagent

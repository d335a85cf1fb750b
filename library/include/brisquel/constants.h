// The few constants that the library's callers share with it.
#pragma once

#include <cstdint>

namespace brisquel {

// The sentence of every writer that refuses a user without the right.
inline constexpr const char* kPermissionDenied = "Permission denied.";

// The largest page of an issue list.
inline constexpr int32_t kMaxIssuesPageSize = 1000;

}  // namespace brisquel

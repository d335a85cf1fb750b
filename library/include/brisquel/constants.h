// The few constants that the library's callers share with it.
#pragma once

namespace brisquel {

// The sentence of every writer that refuses a user without the right.
inline constexpr const char* kPermissionDenied = "Permission denied.";

}  // namespace brisquel

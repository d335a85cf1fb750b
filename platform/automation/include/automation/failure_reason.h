// Why a file could not be read or written, as the few words that end a sentence of the caller's
// own ("The safety copy of the site cannot be written: the disk is full."). Callers say what they
// were doing; this says why, without the system's own wording or any path. (The database
// engine's result codes have theirs in ado/errors.h, in the same words.)
#pragma once

#include <string_view>

namespace automation {

inline constexpr std::string_view kDiskFull = "the disk is full";
inline constexpr std::string_view kDiskError = "the disk reports an input or output error";
inline constexpr std::string_view kAccessDenied = "access to it is denied";
inline constexpr std::string_view kOutOfMemory = "the server is out of memory";

// From an errno value.
std::string_view FileFailureReason(int errnoValue);

}  // namespace automation

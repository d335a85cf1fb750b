#include "automation/failure_reason.h"

#include <cerrno>

namespace automation {

std::string_view FileFailureReason(int errnoValue) {
  switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
    // A file that may grow no further (the file system's largest file, or the process's file
    // size limit) stops the write as a full disk does: there is no room for what was written.
    case EFBIG: return kDiskFull;
    case EIO: return kDiskError;
    case EACCES:
    case EPERM: return kAccessDenied;
    case EROFS: return "the disk is read-only";
    case ENOENT:
    case ENOTDIR: return "the file or its folder is not there";
    case ENOMEM: return kOutOfMemory;
    default: return "the file system refuses it";
  }
}

}  // namespace automation

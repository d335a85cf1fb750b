#include "automation/failure_reason.h"

#include <cerrno>

namespace automation {

std::string_view FileFailureReason(int errnoValue) {
  switch (errnoValue) {
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    case EIO: return kDiskError;
    case EACCES:
    case EPERM: return kAccessDenied;
    case EROFS: return "the disk is read-only";
    case EFBIG: return "the file would pass the largest size allowed";
    case ENOENT:
    case ENOTDIR: return "the file or its folder is not there";
    case ENOMEM: return kOutOfMemory;
    default: return "the file system refuses it";
  }
}

}  // namespace automation

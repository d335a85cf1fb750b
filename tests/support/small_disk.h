// A small disk for tests that run out of space. Where a tmpfs can be mounted (root only,
// CAP_SYS_ADMIN), it is a tmpfs of the given size on a folder of its own for the life of the
// object, and Fill() leaves the room asked for to all its files together; a write past it fails
// with ENOSPC.
// Where mounting is refused, or when asked for (Kind::kFileSizeLimit, or VANTREL_TEST_SMALL_DISK=limit
// in the environment), the folder is an ordinary one and the room is how far any one file may
// grow: Fill() sets that file size limit and Free() lifts it, and the process that writes applies
// it with Limit() (a child after fork(): the limit ends with it), or Run() runs the writing in a
// child that does. A write past it fails with EFBIG.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace testsupport {

class SmallDisk {
 public:
  enum class Kind { kTmpfs, kFileSizeLimit };
  // kTmpfs, or kFileSizeLimit where the environment asks for it.
  static Kind DefaultKind();

  explicit SmallDisk(uint64_t bytes, Kind kind = DefaultKind());
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // A tmpfs; otherwise the room is a file size limit.
  bool Mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Bytes still free on the tmpfs.
  uint64_t Available() const;
  // On the tmpfs, takes all but `leaveFree` bytes with a filler file (nothing when less is free
  // already); otherwise makes `leaveFree` the file size limit.
  void Fill(uint64_t leaveFree);
  // Gives the filler's space back, or lifts the limit.
  void Free();
  // The limit Fill() set, for this process and its children, with SIGXFSZ ignored so that a write
  // past it fails instead of ending the process. Nothing on a tmpfs or without a limit; false when
  // the system refuses it.
  bool Limit() const;
  // Runs `work` in a child process under that limit and returns what it returned; throws when the
  // child did not end that way. The child opens connections of its own: the parent's are not its
  // to use.
  std::string Run(const std::function<std::string()>& work) const;

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
  std::optional<uint64_t> limit_;
};

}  // namespace testsupport

// A small disk for tests that run out of space: a tmpfs of a given size mounted on a folder of its
// own for the life of the object. Mounting needs root (CAP_SYS_ADMIN); where it is refused,
// Mounted() is false and the test skips.
#pragma once

#include <cstdint>
#include <filesystem>

namespace testsupport {

class SmallDisk {
 public:
  explicit SmallDisk(uint64_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Bytes still free.
  uint64_t Available() const;
  // Takes all but `leaveFree` bytes with a filler file (nothing when less is free already).
  void Fill(uint64_t leaveFree);
  // Gives the filler's space back.
  void Free();

 private:
  std::filesystem::path path_;
  bool mounted_ = false;
};

}  // namespace testsupport

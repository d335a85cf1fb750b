// Backup files are outside input: reading the header of any bytes either gives header rows or
// refuses the file (kNotABackup), and never changes the file or leaves anything beside it.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "jobstore/jobstore.h"
#include "automation/automation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path dir = [] {
    char name[] = "/tmp/backup-header-fuzz-XXXXXX";
    return std::filesystem::path(::mkdtemp(name));
  }();
  const std::filesystem::path file = dir / "input.bak";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    agent::ReadBackupHeaders(file);
  } catch (const automation::ComError& e) {
    if (e.number != agent::kNotABackup) std::abort();
  }
  for (const char* beside : {"input.bak-wal", "input.bak-shm", "input.bak-journal"})
    if (std::filesystem::exists(dir / beside)) std::abort();
  return 0;
}

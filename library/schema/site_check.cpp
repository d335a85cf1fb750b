#include <sqlite3.h>

#include "ado/connection_string.h"
#include "brisquel/setup.h"

namespace brisquel::schema {

bool IsSiteDatabaseNamedBy(const std::filesystem::path& connectionFile) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(connectionFile, ec)) return false;
  std::optional<std::string> source;
  try {
    source = ado::ConnectionValue(
        ado::ParseConnectionString(ado::ResolveConnectionString("File name=" + connectionFile.string())),
        "Data Source");
  } catch (...) {
    return false;
  }
  if (!source || source->empty() || !std::filesystem::is_regular_file(*source, ec)) return false;
  sqlite3* db = nullptr;
  bool site = false;
  if (sqlite3_open_v2(source->c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    // Another process may hold the file a moment (a checkpoint, the first opener's recovery of the
    // log left by programs that ended): that is waited for, not taken for a missing site.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'Issues'", -1, &st,
                           nullptr) == SQLITE_OK)
      site = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return site;
}

}  // namespace brisquel::schema

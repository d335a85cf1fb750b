// Test helpers: fresh site databases made once per test program and copied for each test, and a
// small sqlite3 wrapper that keeps the result and extended code of the last statement.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brisquel {
class Database;
}

namespace sitedb {

// A private copy of a fresh site database (admin "admin", password "Secret1"), with or without
// the demo rows, in a folder of the test's own.
std::filesystem::path FreshSite(bool demo);

// "Data Source=<file>".
std::string ConnectionString(const std::filesystem::path& file);
// A Database connected to the file, as a page would make one.
std::shared_ptr<brisquel::Database> Open(const std::filesystem::path& file);

struct Outcome {
  int rc = SQLITE_OK;  // extended result code
  std::string message;
};

class Db {
 public:
  explicit Db(const std::filesystem::path& file);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  sqlite3* handle() const { return db_; }
  // Runs statements; returns the outcome instead of throwing.
  Outcome Run(const std::string& sql);
  // Runs and fails the test on an error.
  void Exec(const std::string& sql);
  // First column of the first row as text ("" for none or NULL).
  std::string Text(const std::string& sql);
  long long Int(const std::string& sql);
  // Every row, columns joined with '|'.
  std::vector<std::string> Rows(const std::string& sql);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace sitedb

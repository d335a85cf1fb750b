#include "support/site_db.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "core/database.h"
#include "schema/site_database.h"
#include "support/temp_dir.h"

namespace sitedb {

namespace fs = std::filesystem;

fs::path FreshSite(bool demo) {
  // Hashing the passwords takes a moment: each kind is made once and copied.
  static std::once_flag once;
  static std::unique_ptr<testsupport::TempDir> store;
  std::call_once(once, [] {
    store = std::make_unique<testsupport::TempDir>();
    brisquel::schema::CreateSiteDatabase(*store / "plain.db", "admin", "Secret1", false);
    brisquel::schema::CreateSiteDatabase(*store / "demo.db", "admin", "Secret1", true);
  });
  static int copies = 0;
  fs::path copy = *store / ("copy" + std::to_string(++copies) + ".db");
  fs::copy_file(*store / (demo ? "demo.db" : "plain.db"), copy);
  return copy;
}

std::string ConnectionString(const fs::path& file) { return "Data Source=" + file.string(); }

std::shared_ptr<brisquel::Database> Open(const fs::path& file) {
  auto db = std::make_shared<brisquel::Database>();
  db->SetConnectionString(ConnectionString(file));
  return db;
}

Db::Db(const fs::path& file) {
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);  // a test's own writer process may hold the site a moment
  Exec("PRAGMA foreign_keys = ON");
}

Db::~Db() { sqlite3_close_v2(db_); }

Outcome Db::Run(const std::string& sql) {
  char* err = nullptr;
  Outcome o;
  o.rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
  if (o.rc != SQLITE_OK) {
    o.rc = sqlite3_extended_errcode(db_);
    o.message = err ? err : "";
  }
  sqlite3_free(err);
  return o;
}

void Db::Exec(const std::string& sql) {
  Outcome o = Run(sql);
  EXPECT_EQ(o.rc, SQLITE_OK) << sql << ": " << o.message;
}

std::vector<std::string> Db::Rows(const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (i) row += '|';
      auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      row += p ? p : "";
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
  sqlite3_finalize(st);
  return rows;
}

std::string Db::Text(const std::string& sql) {
  auto rows = Rows(sql);
  return rows.empty() ? "" : rows.front();
}

long long Db::Int(const std::string& sql) {
  std::string t = Text(sql);
  return t.empty() ? 0 : std::stoll(t);
}

}  // namespace sitedb

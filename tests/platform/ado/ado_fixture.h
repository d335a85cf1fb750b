// A site-like database in a temporary folder: a code table and an item table with row versions.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ado/ado.h"
#include "support/temp_dir.h"

namespace adotest {

inline constexpr const char* kSchema = R"(
CREATE TABLE Groups (
  GroupCode varchar(20) NOT NULL PRIMARY KEY COLLATE NOCASE,
  Description varchar(50) NULL COLLATE NOCASE,
  LastUpdated INTEGER);
CREATE TABLE Items (
  ItemId INTEGER PRIMARY KEY AUTOINCREMENT,
  GroupCode varchar(20) NOT NULL COLLATE NOCASE REFERENCES Groups (GroupCode),
  Name varchar(50) NOT NULL COLLATE NOCASE,
  Quantity int NOT NULL DEFAULT 0 CHECK (Quantity >= 0),
  Price float NULL,
  Active bit NOT NULL DEFAULT 1,
  Created datetime NOT NULL DEFAULT (GetDate()),
  Notes text NULL,
  Data image NULL,
  LastUpdated INTEGER);
CREATE TABLE Plain (Code varchar(10) NOT NULL COLLATE NOCASE, Label varchar(30) NULL);
INSERT INTO Groups (GroupCode, Description) VALUES ('Dev', 'Developers'), ('QA', 'Testers'), ('Ops', 'Operations');
)";

class AdoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn = std::make_shared<ado::Connection>();
    conn->Open(ConnectionString());
    conn->ExecuteNonQuery(kSchema);
    ado::InstallRowVersion(conn->Handle(), "Groups");
    ado::InstallRowVersion(conn->Handle(), "Items");
  }

  std::string Path() const { return (dir / "site.db").string(); }
  std::string ConnectionString() const { return "Data Source=" + Path(); }
  std::shared_ptr<ado::Connection> Open() const {
    auto c = std::make_shared<ado::Connection>();
    c->Open(ConnectionString());
    return c;
  }
  int64_t AddItem(const std::string& group, const std::string& name, int quantity = 1) {
    conn->ExecuteNonQuery("INSERT INTO Items (GroupCode, Name, Quantity) VALUES (?, ?, ?)",
                          {ado::Param::Text(group, 20), ado::Param::Text(name, 50), ado::Param::Long(quantity)});
    return conn->LastInsertRowId();
  }
  automation::Variant One(const std::string& sql, const ado::Params& params = {}) {
    auto rs = conn->Query(sql, params);
    if (rs->State() != ado::adStateOpen || rs->IsEOF()) return automation::Variant();
    return rs->Value(size_t{0});
  }
  // The error a call raises (number 0 when it raises none).
  template <class F>
  static automation::ComError ErrorOf(F&& f) {
    try {
      f();
    } catch (const automation::ComError& e) {
      return e;
    }
    return automation::ComError();
  }

  testsupport::TempDir dir;
  std::shared_ptr<ado::Connection> conn;
};

}  // namespace adotest

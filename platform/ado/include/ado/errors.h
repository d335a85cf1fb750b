// The connection's error list (Connection.Errors) and the raising of the layer's errors.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ado/types.h"
#include "automation/automation.h"

namespace ado {

struct ErrorInfo {
  int32_t number = 0;       // ADO-level number (&H80040E2F, &H80040E38, ...)
  int32_t nativeError = 0;  // SQL Server's number where one applies (2627, 547, 515, 2714)
  std::string source;
  std::string description;
  std::string sqlState;
  int32_t engineCode = 0;   // an engine failure's EngineFailureCode, else 0
};

// The error of a failed engine call, mapped to the numbers callers test: UNIQUE and PRIMARY KEY
// give 2627, FOREIGN KEY (also our triggers' "FOREIGN KEY constraint failed (...)") and CHECK 547,
// NOT NULL 515, "already exists" 2714; other failures keep SQLite's extended code as native error.
// A full disk and an input or output error are described in our own sentence ("The database
// cannot be written: the disk is full."), the engine's wording being no help to the reader.
ErrorInfo EngineError(sqlite3* db, int rc);
ErrorInfo EngineError(int rc, std::string_view message);

// Raises an error of the layer (source "ADODB.Recordset" and so on).
[[noreturn]] void Raise(int32_t number, std::string_view source, std::string description = {});
[[noreturn]] void Raise(const ErrorInfo& e);
// Why the engine failed, when it failed for the file or the machine: "the disk is full" (as
// automation::FileFailureReason words it), "the file is damaged", ...; "" for an SQL error or a
// constraint, whose own message stands.
std::string_view EngineFailureReason(int resultCode);
// The failure's result code as the reasons read it: an I/O error that a full disk caused (the
// system's errno ENOSPC or EDQUOT, as on a full tmpfs growing the -shm file) counts as SQLITE_FULL,
// and so does a write of the database or its journal past the largest size the file may have
// (EFBIG: the file system's or the process's limit). `rc` is the extended result code.
int EngineFailureCode(sqlite3* db, int rc);
// ADO's own text for its numbers (3021, 3704, ...).
std::string ErrorText(int32_t number);

class Error : public automation::Dispatchable<Error> {
 public:
  Error() = default;
  explicit Error(ErrorInfo info) : info_(std::move(info)) {}
  int32_t Number() const { return info_.number; }
  int32_t NativeError() const { return info_.nativeError; }
  const std::string& Source() const { return info_.source; }
  const std::string& Description() const { return info_.description; }
  const std::string& SQLState() const { return info_.sqlState; }
  const ErrorInfo& Info() const { return info_; }

 private:
  ErrorInfo info_;
};

class Errors : public automation::Dispatchable<Errors> {
 public:
  int32_t Count() const { return static_cast<int32_t>(list_.size()); }
  std::shared_ptr<Error> Item(const automation::Variant& index) const;
  void Clear() { list_.clear(); }
  void Add(ErrorInfo e) { list_.push_back(std::move(e)); }
  const std::vector<ErrorInfo>& List() const { return list_; }
  const ErrorInfo* First() const { return list_.empty() ? nullptr : &list_.front(); }

 private:
  std::vector<ErrorInfo> list_;
};

}  // namespace ado

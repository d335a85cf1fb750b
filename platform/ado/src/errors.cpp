#include "ado/errors.h"

#include <cerrno>

#include "automation/failure_reason.h"

namespace ado {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Whether a write of the database's file or of its journal (the WAL, or the rollback journal while
// it is open) failed because the file may grow no further. The engine reports such a write as a
// plain I/O error and its own record of errno is lost by then; each file keeps its last errno.
bool FileGrewPastItsLimit(sqlite3* db, int rc) {
  if (rc != SQLITE_IOERR_WRITE && rc != SQLITE_IOERR_TRUNCATE && rc != SQLITE_IOERR_SHMSIZE) return false;
  int error = 0;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &error) == SQLITE_OK && error == EFBIG) return true;
  sqlite3_file* journal = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &journal) != SQLITE_OK || !journal ||
      !journal->pMethods)
    return false;
  error = 0;
  return journal->pMethods->xFileControl(journal, SQLITE_FCNTL_LAST_ERRNO, &error) == SQLITE_OK && error == EFBIG;
}

}  // namespace

std::string_view EngineFailureReason(int resultCode) {
  switch (resultCode & 0xFF) {
    case SQLITE_FULL: return automation::kDiskFull;
    case SQLITE_IOERR: return automation::kDiskError;
    case SQLITE_READONLY:
    case SQLITE_PERM: return automation::kAccessDenied;
    case SQLITE_CANTOPEN: return "the file cannot be opened";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return "the file is damaged";
    case SQLITE_NOMEM: return automation::kOutOfMemory;
    default: return {};
  }
}

ErrorInfo EngineError(int rc, std::string_view message) {
  ErrorInfo e;
  e.source = "SQLite";
  e.description = std::string(message);
  if ((rc & 0xFF) == SQLITE_FULL || (rc & 0xFF) == SQLITE_IOERR) {
    const bool reading = rc == SQLITE_IOERR_READ || rc == SQLITE_IOERR_SHORT_READ;
    e.description = std::string(reading ? "The database cannot be read: " : "The database cannot be written: ") +
                    std::string(EngineFailureReason(rc)) + ".";
  }
  e.number = err::kCommandFailed;
  e.nativeError = rc;
  e.engineCode = rc;
  e.sqlState = "42000";
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      e.number = err::kConstraint;
      e.nativeError = native::kDuplicateKey;
      e.sqlState = "23000";
      return e;
    case SQLITE_CONSTRAINT_FOREIGNKEY:
    case SQLITE_CONSTRAINT_CHECK:
      e.number = err::kConstraint;
      e.nativeError = native::kReference;
      e.sqlState = "23000";
      return e;
    case SQLITE_CONSTRAINT_NOTNULL:
      e.number = err::kConstraint;
      e.nativeError = native::kNotNull;
      e.sqlState = "23000";
      return e;
    case SQLITE_BUSY:
    case SQLITE_BUSY_SNAPSHOT:
    case SQLITE_BUSY_RECOVERY:
    case SQLITE_LOCKED:
      e.number = err::kTimeout;
      e.nativeError = native::kLockTimeout;
      e.sqlState = "HYT00";
      return e;
    default:
      break;
  }
  if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
    e.number = err::kConstraint;
    e.sqlState = "23000";
    // Our triggers emulate named foreign keys with this message.
    if (StartsWith(message, "FOREIGN KEY constraint failed")) e.nativeError = native::kReference;
    return e;
  }
  if ((rc & 0xFF) == SQLITE_ERROR && message.find("already exists") != std::string_view::npos)
    e.nativeError = native::kObjectExists;
  return e;
}

int EngineFailureCode(sqlite3* db, int rc) {
  if ((rc & 0xFF) != SQLITE_IOERR || !db) return rc;
  const int error = sqlite3_system_errno(db);
  return error == ENOSPC || error == EDQUOT || error == EFBIG || FileGrewPastItsLimit(db, rc) ? SQLITE_FULL : rc;
}

ErrorInfo EngineError(sqlite3* db, int rc) {
  int ext = db ? sqlite3_extended_errcode(db) : rc;
  if ((ext & 0xFF) != (rc & 0xFF)) ext = rc;
  const int code = EngineFailureCode(db, ext);
  ErrorInfo e = EngineError(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  e.nativeError = code == ext ? e.nativeError : ext;
  return e;
}

std::string ErrorText(int32_t number) {
  switch (number) {
    case err::kInvalidArgument:
      return "Arguments are of the wrong type, are out of acceptable range, or are in conflict with "
             "one another.";
    case err::kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
             "requires a current record.";
    case err::kIllegalOperation: return "Operation is not allowed in this context.";
    case err::kInTransaction:
      return "Connection object cannot be explicitly closed while in a transaction.";
    case err::kNotSupported:
      return "Current Recordset does not support updating. This may be a limitation of the provider, "
             "or of the selected locktype.";
    case err::kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or ordinal.";
    case err::kDataConversion:
      return "Application uses a value of the wrong type for the current operation.";
    case err::kObjectClosed: return "Operation is not allowed when the object is closed.";
    case err::kObjectOpen: return "Operation is not allowed when the object is open.";
    case err::kInvalidConnection:
      return "The connection cannot be used to perform this operation. It is either closed or invalid "
             "in this context.";
    case err::kWriteConflict:
      return "Row cannot be located for updating. Some values may have been changed since it was last "
             "read.";
    case err::kMultipleStep: return "Multiple-step operation generated errors. Check each status value.";
    case err::kBadBookmark: return "Bookmark is invalid.";
    case err::kDeletedRow: return "A given HROW referred to a hard- or soft-deleted row.";
    case err::kTransactionActive: return "Only one transaction can be active on this session.";
    case err::kNoTransaction: return "No transaction is active.";
    default: return "Unspecified error";
  }
}

void Raise(int32_t number, std::string_view source, std::string description) {
  if (description.empty()) description = ErrorText(number);
  throw automation::ComError(number, std::string(source), std::move(description));
}

void Raise(const ErrorInfo& e) { throw automation::ComError(e.number, e.source, e.description); }

std::shared_ptr<Error> Errors::Item(const automation::Variant& index) const {
  int32_t i = index.ToLong();
  if (i < 0 || i >= Count()) Raise(err::kItemNotFound, "ADODB.Errors");
  return std::make_shared<Error>(list_[static_cast<size_t>(i)]);
}

namespace {

automation::Register<Error> regError("Error", "", [](auto& c) {
  c.Property("Number", &Error::Number);
  c.Property("NativeError", &Error::NativeError);
  c.Property("Source", &Error::Source);
  c.Property("Description", &Error::Description);
  c.Property("SQLState", &Error::SQLState);
  c.Default("Description");
});

automation::Register<Errors> regErrors("Errors", "", [](auto& c) {
  c.Property("Count", &Errors::Count);
  c.Property("Item", &Errors::Item);
  c.Method("Clear", &Errors::Clear);
  c.Default("Item");
});

}  // namespace

}  // namespace ado

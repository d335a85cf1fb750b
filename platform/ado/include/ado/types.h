// Constants of the data layer (the numbers ADO callers pass and test) and the small value types
// shared by its classes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace ado {

// Field and parameter data types.
enum DataType : int32_t {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adBoolean = 11,
  adVariant = 12,
  adDecimal = 14,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adBigInt = 20,
  adGUID = 72,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

enum ParameterDirection : int32_t {
  adParamUnknown = 0,
  adParamInput = 1,
  adParamOutput = 2,
  adParamInputOutput = 3,
  adParamReturnValue = 4,
};

enum ObjectState : int32_t { adStateClosed = 0, adStateOpen = 1 };

enum CursorLocation : int32_t { adUseServer = 2, adUseClient = 3 };
enum CursorType : int32_t {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3,
};
enum LockType : int32_t {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4,
};
enum CommandType : int32_t {
  adCmdUnspecified = -1,
  adCmdText = 1,
  adCmdTable = 2,
  adCmdStoredProc = 4,
  adCmdUnknown = 8,
  adCmdFile = 256,
  adCmdTableDirect = 512,
};
inline constexpr int32_t adExecuteNoRecords = 0x80;

enum AffectEnum : int32_t { adAffectCurrent = 1, adAffectGroup = 2, adAffectAll = 3 };
// "Update Criteria": how a batch update finds the row it writes.
enum UpdateCriteria : int32_t {
  adCriteriaKey = 0,        // key columns only
  adCriteriaAllCols = 1,    // key and every column as read
  adCriteriaUpdCols = 2,    // key and the columns changed (the default)
  adCriteriaTimeStamp = 3,  // key and the row version (all columns when the table has none)
};
// Recordset.Supports: what a cursor can do.
enum CursorOption : int32_t {
  adHoldRecords = 0x100,
  adMovePrevious = 0x200,
  adBookmark = 0x2000,
  adApproxPosition = 0x4000,
  adUpdateBatch = 0x10000,
  adResync = 0x20000,
  adNotify = 0x40000,
  adFind = 0x80000,
  adIndex = 0x100000,
  adSeek = 0x200000,
  adAddNew = 0x1000400,
  adDelete = 0x1000800,
  adUpdate = 0x1008000,
};
enum SearchDirection : int32_t { adSearchForward = 1, adSearchBackward = -1 };
enum EditMode : int32_t { adEditNone = 0, adEditInProgress = 1, adEditAdd = 2, adEditDelete = 4 };
enum RecordStatus : int32_t {
  adRecOK = 0,
  adRecNew = 1,
  adRecModified = 2,
  adRecDeleted = 4,
  adRecUnmodified = 8,
};
enum PositionEnum : int32_t { adPosUnknown = -1, adPosBOF = -2, adPosEOF = -3 };
enum FieldAttribute : int32_t {
  adFldUpdatable = 0x4,
  adFldUnknownUpdatable = 0x8,
  adFldFixed = 0x10,
  adFldIsNullable = 0x20,
  adFldMayBeNull = 0x40,
  adFldLong = 0x80,
  adFldRowID = 0x100,
  adFldRowVersion = 0x200,
  adFldKeyColumn = 0x8000,
};
enum FieldStatus : int32_t { adFieldOK = 0, adFieldPendingInsert = 0x10000, adFieldPendingChange = 0x40000 };
enum StreamType : int32_t { adTypeBinary = 1, adTypeText = 2 };
enum PersistFormat : int32_t { adPersistADTG = 0, adPersistXML = 1 };

// Error numbers of the layer. The ADO-level ones are what callers test.
namespace err {
inline constexpr int32_t kWriteConflict = static_cast<int32_t>(0x80040E38);   // row changed since read
inline constexpr int32_t kCommandFailed = static_cast<int32_t>(0x80040E14);   // statement failed
inline constexpr int32_t kConstraint = static_cast<int32_t>(0x80040E2F);      // constraint violated
inline constexpr int32_t kMultipleStep = static_cast<int32_t>(0x80040E21);    // value not accepted
inline constexpr int32_t kDataOverflow = static_cast<int32_t>(0x80040E57);    // value longer than declared
inline constexpr int32_t kTimeout = static_cast<int32_t>(0x80040E31);         // lock wait expired
inline constexpr int32_t kBadBookmark = static_cast<int32_t>(0x80040E0E);
inline constexpr int32_t kDeletedRow = static_cast<int32_t>(0x80040E23);
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
inline constexpr int32_t kTransactionActive = static_cast<int32_t>(0x8004D013);
inline constexpr int32_t kNoTransaction = static_cast<int32_t>(0x8004D00E);
inline constexpr int32_t kInvalidArgument = 3001;
inline constexpr int32_t kNoCurrentRecord = 3021;
inline constexpr int32_t kIllegalOperation = 3219;
inline constexpr int32_t kInTransaction = 3246;
inline constexpr int32_t kNotSupported = 3251;
inline constexpr int32_t kItemNotFound = 3265;
inline constexpr int32_t kDataConversion = 3421;
inline constexpr int32_t kObjectClosed = 3704;
inline constexpr int32_t kObjectOpen = 3705;
inline constexpr int32_t kInvalidConnection = 3709;
}  // namespace err

// Native numbers of the engine's errors, as SQL Server numbered them.
namespace native {
inline constexpr int32_t kDuplicateKey = 2627;
inline constexpr int32_t kReference = 547;
inline constexpr int32_t kNotNull = 515;
inline constexpr int32_t kObjectExists = 2714;
inline constexpr int32_t kLockTimeout = 1222;
}  // namespace native

// One statement parameter: what Command.CreateParameter takes, also used by the typed API.
struct Param {
  std::string name;
  int32_t type = adVarChar;
  int32_t direction = adParamInput;
  int32_t size = 0;
  automation::Variant value;

  static Param Text(automation::Variant v, int32_t size, std::string name = {}) {
    return Param{std::move(name), adVarChar, adParamInput, size, std::move(v)};
  }
  static Param Long(automation::Variant v, std::string name = {}) {
    return Param{std::move(name), adInteger, adParamInput, 4, std::move(v)};
  }
  static Param Bool(automation::Variant v, std::string name = {}) {
    return Param{std::move(name), adBoolean, adParamInput, 0, std::move(v)};
  }
  static Param DateTime(automation::Variant v, std::string name = {}) {
    return Param{std::move(name), adDBTimeStamp, adParamInput, 0, std::move(v)};
  }
  static Param Double(automation::Variant v, std::string name = {}) {
    return Param{std::move(name), adDouble, adParamInput, 0, std::move(v)};
  }
  static Param Blob(automation::Variant v, int32_t size, std::string name = {}) {
    return Param{std::move(name), adLongVarBinary, adParamInput, size, std::move(v)};
  }
};
using Params = std::vector<Param>;

// An SQL identifier in double quotes, inner quotes doubled.
std::string QuoteIdentifier(std::string_view name);

}  // namespace ado

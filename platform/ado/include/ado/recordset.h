// Recordset: a client-side static set of rows held in memory, read from a statement or built in
// memory (Fields.Append, then Open with no source). Rows keep their values as read and as changed;
// UpdateBatch writes the pending inserts, updates and deletes to the base table of each column,
// finding each row by its key and the "Update Criteria". With lock type 2 or 3 and a connection
// each Update and Delete is written at once (a live recordset). A recordset travels between
// requests as a signed image (SaveImage / OpenImage).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sqlite3.h>

#include "ado/types.h"
#include "automation/automation.h"

namespace ado {

class Connection;
class Command;
class Stream;
class Recordset;

// How values of a column are read from the engine (chosen once per column).
enum class Decode : uint8_t { Any, Long, SmallInt, Byte, BigInt, Bool, Double, Single, Currency, Date, Text, Binary };

struct FieldInfo {
  std::string name;
  int32_t type = adVarChar;
  int32_t definedSize = 0;
  int32_t attributes = 0;
  uint8_t precision = 0;
  uint8_t numericScale = 0;
  bool sizeEnforced = false;  // a declared size that values must respect
  // The column this field reads, when it reads one (empty table: computed).
  std::string baseSchema;
  std::string baseTable;
  std::string baseColumn;
  bool key = false;            // in the base table's primary key
  bool rowVersion = false;     // the base table's LastUpdated row version
  bool autoIncrement = false;  // an identity: the engine gives it when not set
  bool notNull = false;
  Decode decode = Decode::Any;
};

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// Field metadata, shared between recordsets read by the same statement.
struct RecordsetMeta {
  std::vector<FieldInfo> fields;
  // Lower-case name -> first field of that name.
  std::unordered_map<std::string, size_t, NameHash, std::equal_to<>> byName;
  void Index();
  std::optional<size_t> Find(std::string_view name) const;
};
using MetaPtr = std::shared_ptr<const RecordsetMeta>;

// A field of the current row: rs->Field("UserId").Value().
class FieldRef {
 public:
  FieldRef(Recordset& rs, size_t index) : rs_(&rs), index_(index) {}
  const std::string& Name() const;
  int32_t Type() const;
  int32_t DefinedSize() const;
  int32_t Attributes() const;
  int32_t ActualSize() const;
  automation::Variant Value() const;
  void SetValue(automation::Variant v) const;
  automation::Variant OriginalValue() const;
  int32_t Status() const;
  const FieldInfo& Info() const;
  size_t Index() const { return index_; }

 private:
  Recordset* rs_;
  size_t index_;
};

// The by-name Fields collection and Field objects.
class FieldsObject : public automation::Dispatchable<FieldsObject> {
 public:
  explicit FieldsObject(std::shared_ptr<Recordset> rs = nullptr) : rs_(std::move(rs)) {}
  int32_t Count() const;
  std::shared_ptr<class FieldObject> Item(const automation::Variant& index) const;
  void Append(const std::string& name, int32_t type, int32_t definedSize, int32_t attrib,
              const automation::Variant& value);
  void Refresh() {}

 private:
  std::shared_ptr<Recordset> rs_;
};

class FieldObject : public automation::Dispatchable<FieldObject> {
 public:
  FieldObject() = default;
  FieldObject(std::shared_ptr<Recordset> rs, size_t index) : rs_(std::move(rs)), index_(index) {}
  std::string Name() const;
  int32_t Type() const;
  int32_t DefinedSize() const;
  int32_t Attributes() const;
  int32_t ActualSize() const;
  int32_t Precision() const;
  int32_t NumericScale() const;
  automation::Variant Value() const;
  void SetValue(const automation::Variant& v);
  automation::Variant OriginalValue() const;
  automation::Variant UnderlyingValue() const;
  int32_t Status() const;

 private:
  FieldRef Ref() const;
  std::shared_ptr<Recordset> rs_;
  size_t index_ = 0;
};

// rs.Properties("Update Criteria") and the few other dynamic properties.
class PropertiesObject : public automation::Dispatchable<PropertiesObject> {
 public:
  explicit PropertiesObject(std::shared_ptr<Recordset> rs = nullptr) : rs_(std::move(rs)) {}
  std::shared_ptr<class PropertyObject> Item(const automation::Variant& name) const;
  int32_t Count() const;

 private:
  std::shared_ptr<Recordset> rs_;
};

class PropertyObject : public automation::Dispatchable<PropertyObject> {
 public:
  PropertyObject() = default;
  PropertyObject(std::shared_ptr<Recordset> rs, std::string name) : rs_(std::move(rs)), name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  automation::Variant Value() const;
  void SetValue(const automation::Variant& v);

 private:
  std::shared_ptr<Recordset> rs_;
  std::string name_;
};

// Values as read, kept compactly (a Variant is made when one is asked for): 16 bytes a value,
// text and bytes in one arena. Kinds number as the image's value tags.
class CellStore {
 public:
  enum Kind : uint8_t {
    kEmpty = 0, kNull, kFalse, kTrue, kByte, kInteger, kLong, kLongLong, kSingle, kDouble, kCurrency, kDate,
    kText, kBytes,
  };
  size_t Size() const { return cells_.size(); }
  void Reserve(size_t cells, size_t bytes) {
    cells_.reserve(cells);
    arena_.reserve(bytes);
  }
  size_t ArenaSize() const { return arena_.size(); }
  void Clear() {
    cells_.clear();
    arena_.clear();
  }
  void PushInteger(Kind k, int64_t v) { cells_.push_back(Cell{k, 0, {.i = v}}); }
  void PushReal(Kind k, double v) { cells_.push_back(Cell{k, 0, {.d = v}}); }
  void PushKind(Kind k) { cells_.push_back(Cell{k, 0, {.i = 0}}); }
  void PushText(Kind k, const char* p, size_t n);
  // Appends every value of `other`.
  void Append(const CellStore& other);
  void Push(const automation::Variant& v);
  void Set(size_t i, const automation::Variant& v);
  automation::Variant Get(size_t i) const;
  Kind KindAt(size_t i) const { return cells_[i].kind; }
  int64_t IntegerAt(size_t i) const { return cells_[i].u.i; }
  double RealAt(size_t i) const { return cells_[i].u.d; }
  std::string_view TextAt(size_t i) const {
    return std::string_view(arena_.data() + cells_[i].u.off, cells_[i].len);
  }

 private:
  struct Cell {
    Kind kind;
    uint32_t len;
    union {
      int64_t i;
      double d;
      uint64_t off;
    } u;
  };
  std::vector<Cell> cells_;
  std::string arena_;
};

// The result of running a statement, adopted by a recordset.
struct ResultSet {
  MetaPtr meta;
  CellStore cells;  // row-major
  size_t rows = 0;
};

// A statement read a stretch of rows at a time that stays where it stopped, so a walk through a
// long list reads each row once rather than stepping again over every row before each stretch.
// Prepared on its own (not in the statement cache), one statement; its connection outlives it.
class RowCursor {
 public:
  RowCursor(Connection& connection, std::string_view sql, const Params& params = {});
  ~RowCursor();
  RowCursor(const RowCursor&) = delete;
  RowCursor& operator=(const RowCursor&) = delete;
  // The next `count` rows (fewer at the end), as QueryRows gives them.
  ResultSet Next(size_t count);
  // The rows handed out so far.
  size_t Position() const { return position_; }

 private:
  Connection* connection_;
  sqlite3_stmt* stmt_ = nullptr;
  MetaPtr meta_;
  size_t position_ = 0;
  bool plainRead_ = false;
  bool done_ = false;
};

// Rows read when they are reached. A recordset opened on a source knows its total at once and
// asks the source for the rows of a stretch (the page of the row reached, a widening stretch for a
// walk on from rows read, all of them for Find, images, batch updates) when a move reaches one.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // The values of rows [first, first + count), row-major, in the recordset's field order.
  virtual ResultSet Fetch(size_t first, size_t count) = 0;
  // The values of only `fields` (in that order) of rows [first, first + count), for a source that
  // can read some columns apart; a result without meta when it cannot (the whole rows are read).
  virtual ResultSet FetchFields(size_t /*first*/, size_t /*count*/, const std::vector<const FieldInfo*>& /*fields*/) {
    return {};
  }
};

class Recordset : public automation::Dispatchable<Recordset> {
 public:
  Recordset();
  ~Recordset() override;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // ---- opening and closing
  // By-name Open: the source is a Command, a statement text (with a Connection), a Stream holding
  // an image, or nothing (a recordset built with Fields.Append).
  void Open(const automation::Variant& source, const automation::Variant& activeConnection,
            int32_t cursorType, int32_t lockType, int32_t options);
  void OpenCommand(Command& cmd, int32_t lockType = adLockUnspecified);
  void OpenSql(std::shared_ptr<Connection> connection, std::string_view sql, const Params& params = {},
               int32_t lockType = adLockUnspecified);
  // Adopts rows read elsewhere (Connection::Query).
  void OpenResult(std::shared_ptr<Connection> connection, ResultSet result, int32_t lockType,
                  std::string source = {});
  // Adopts the first rows of `total` (with the field metadata); the others are read from
  // `rows` when reached. The recordset is detached.
  void OpenPaged(ResultSet first, size_t total, std::shared_ptr<RowSource> rows, int32_t lockType,
                 std::string source = {});
  void Close();
  int32_t State() const { return open_ ? adStateOpen : adStateClosed; }

  std::shared_ptr<Connection> ActiveConnection() const { return connection_; }
  // nullptr detaches; a connection attaches (for UpdateBatch, or live writes).
  void SetActiveConnection(std::shared_ptr<Connection> c) { connection_ = std::move(c); }
  // The by-name property also accepts Nothing and Empty.
  void SetActiveConnectionVariant(const automation::Variant& v);
  automation::Variant ActiveConnectionVariant() const;

  // ---- position
  bool IsBOF() const;
  bool IsEOF() const;
  void MoveFirst();
  void MoveLast();
  void MoveNext();
  void MovePrevious();
  void Move(int32_t numRecords, const automation::Variant& start);
  int32_t RecordCount() const;
  automation::Variant Bookmark() const;
  void SetBookmark(const automation::Variant& b);
  int32_t AbsolutePosition() const;
  void SetAbsolutePosition(int32_t p);
  int32_t PageSize() const { return pageSize_; }
  void SetPageSize(int32_t n);
  int32_t PageCount() const;
  int32_t AbsolutePage() const;
  void SetAbsolutePage(int32_t page);
  // Forward or backward from the current row (or `start`, a bookmark) to the first row that
  // matches a criterion "Field op value" (=, <>, <, >, <=, >=, LIKE; 'text', #date#, number or
  // Null), text compared without regard to case. No match leaves the recordset at EOF (BOF
  // backward). The criterion is evaluated here, never handed to the engine.
  void Find(const std::string& criteria, int32_t skipRows = 0, int32_t direction = adSearchForward,
            const automation::Variant& start = automation::Variant::Missing());

  // ---- fields of the current row
  size_t FieldCount() const;
  const FieldInfo& Info(size_t index) const;
  std::optional<size_t> TryFieldIndex(std::string_view name) const;
  size_t FieldIndex(std::string_view name) const;  // raises 3265 for an unknown name
  FieldRef Field(std::string_view name) { return FieldRef(*this, FieldIndex(name)); }
  FieldRef Field(size_t index);
  automation::Variant Value(size_t index) const;
  automation::Variant Value(std::string_view name) const { return Value(FieldIndex(name)); }
  // A column of the current row as text; Null (and Empty) give "".
  std::string Text(std::string_view name) const { return Value(name).ToText(); }
  void SetValue(size_t index, automation::Variant v);
  void SetValue(std::string_view name, automation::Variant v) { SetValue(FieldIndex(name), std::move(v)); }
  // Hands `each` the values of `fields` (indexes, in that order) of the current row and of every
  // row after it, then leaves the recordset at EOF; `each` must not move the recordset. Rows of a
  // source not read yet are read for this walk alone, and only those fields, so a walk to the end
  // of a long list (a download) holds no more rows afterwards than before.
  void ReadRest(const std::vector<size_t>& fields,
                const std::function<void(const std::vector<automation::Variant>&)>& each);
  automation::Variant OriginalValue(size_t index) const;
  int32_t FieldStatus(size_t index) const;
  std::shared_ptr<FieldsObject> GetFields();
  // Fields.Append: only while closed.
  void AppendField(const std::string& name, int32_t type, int32_t definedSize, int32_t attributes);

  // ---- editing
  void AddNew();
  // With a field list and a value list (arrays or single items) the row is added and updated in
  // one step.
  void AddNew(const automation::Variant& fieldList, const automation::Variant& values);
  void Update();
  void Update(const automation::Variant& fieldList, const automation::Variant& values);
  void CancelUpdate();
  void Delete(int32_t affect = adAffectCurrent);
  // Writes every pending change (adAffectAll) or the current row's. All or nothing: a failure
  // (a row that no longer matches: &H80040E38, or an engine error) writes nothing and leaves
  // the changes pending. Identity values, defaults and row versions are read back.
  void UpdateBatch(int32_t affect = adAffectAll);
  void CancelBatch(int32_t affect = adAffectAll);
  int32_t EditMode() const { return editMode_; }
  int32_t Status() const;  // RecordStatus of the current row

  // ---- properties
  int32_t LockType() const { return lockType_; }
  void SetLockType(int32_t t);
  int32_t CursorType() const { return cursorType_; }
  void SetCursorType(int32_t t);
  int32_t CursorLocation() const { return adUseClient; }
  void SetCursorLocation(int32_t) {}
  int32_t UpdateCriteria() const { return updateCriteria_; }
  void SetUpdateCriteria(int32_t c);
  const std::string& UniqueTable() const { return uniqueTable_; }
  void SetUniqueTable(const std::string& t) { uniqueTable_ = t; }
  const std::string& Source() const { return source_; }
  bool Supports(int32_t cursorOptions) const;
  std::shared_ptr<PropertiesObject> GetProperties();
  automation::Variant DynamicProperty(std::string_view name) const;
  void SetDynamicProperty(std::string_view name, const automation::Variant& v);

  // ---- images
  // The recordset as bytes: field metadata, base tables and keys, every row's values as read and
  // as changed, pending inserts and deletes, signed with HMAC-SHA256 under `key`.
  std::vector<uint8_t> SaveImage(std::string_view key);
  // Refuses (ADO error, never a crash or an over-read) anything that is not an image signed with
  // `key`. The recordset is detached and on its first row.
  static std::shared_ptr<Recordset> OpenImage(const uint8_t* data, size_t size, std::string_view key);
  static std::shared_ptr<Recordset> OpenImage(const std::vector<uint8_t>& bytes, std::string_view key) {
    return OpenImage(bytes.data(), bytes.size(), key);
  }
  // Appends the signature to unsigned image bytes (for tools and fuzzing of the reader).
  static std::vector<uint8_t> SealImage(std::vector<uint8_t> unsignedImage, std::string_view key);
  // By-name Save into a Stream (persist format 0); signed with the stream's key or, failing that,
  // the site secret of the recordset's connection.
  void Save(const automation::Variant& destination, int32_t persistFormat);

  // ---- for writers that take a recordset back from a caller
  std::vector<std::string> BaseTables() const;
  // The base-column names of the key fields of `table` present in the recordset.
  std::vector<std::string> KeyColumns(std::string_view table) const;
  const MetaPtr& Meta() const { return meta_; }

 private:
  friend class FieldRef;
  enum class RowState : uint8_t { Unmodified, Modified, New, Deleted, Gone };
  struct Change {
    std::vector<automation::Variant> values;
    std::vector<uint8_t> assigned;
  };
  static constexpr size_t kNoBase = static_cast<size_t>(-1);
  static constexpr size_t kUnfetched = static_cast<size_t>(-2);  // a row of the source not read yet
  struct Row {
    size_t base = kUnfetched;  // offset of the values as read in cells_ (kNoBase for rows added here)
    RowState state = RowState::Unmodified;
    std::unique_ptr<Change> change;
  };
  // The rows by position. A row is held only once it is read or touched: the others (the rows of
  // a source not read yet) are Unmodified and unread, so a list of a million rows holds the pages
  // read, not a slot for every row. Rows are held in blocks, each at a fixed address for as long
  // as the table is not cleared.
  class RowTable {
   public:
    size_t Size() const { return size_; }
    // The row at `i`, never held for this; an unread row of the source reads as such.
    const Row& Get(size_t i) const;
    // The row at `i`, held from now on (to be read into or changed).
    Row& Hold(size_t i);
    void PushBack(Row row);
    // `count` more rows, unread.
    void Extend(size_t count) { size_ += count; }
    void Clear();
    // Every held row in order of position; the others are unread and unchanged.
    template <class F>
    void ForEachHeld(F&& f) {
      for (auto& [key, block] : blocks_)
        for (size_t k = 0; k < kBlock && key * kBlock + k < size_; ++k) f(key * kBlock + k, block->rows[k]);
    }

   private:
    static constexpr size_t kBlock = 64;
    struct Block {
      Row rows[kBlock];
    };
    Block* Find(size_t key) const;
    size_t size_ = 0;
    std::map<size_t, std::unique_ptr<Block>> blocks_;
    // The block used last: walks and the rows of one page stay in one.
    mutable size_t lastKey_ = static_cast<size_t>(-1);
    mutable Block* last_ = nullptr;
  };
  static constexpr std::ptrdiff_t kBof = -1;
  static constexpr std::ptrdiff_t kEof = -2;
  struct Backup {
    std::ptrdiff_t row = -1;
    RowState state = RowState::Unmodified;
    std::unique_ptr<Change> change;
  };
  struct PendingWrite;  // update_batch.cpp
  class RowWriter;      // update_batch.cpp: the statements that write one row

  void RequireOpen() const;
  void RequireUpdatable() const;
  Row& CurrentRow();
  const Row& CurrentRow() const;
  bool Visible(const Row& r) const { return r.state != RowState::Deleted && r.state != RowState::Gone; }
  std::ptrdiff_t NextVisible(std::ptrdiff_t from) const;
  std::ptrdiff_t PrevVisible(std::ptrdiff_t from) const;
  std::ptrdiff_t VisibleAt(int32_t ordinal) const;  // 1-based
  void BeginMove();  // an edit in progress is kept (Update) before the position changes
  void BeginEdit(Row& r);
  bool Live() const;
  void WriteRows(const std::vector<size_t>& rows);
  PendingWrite WriteRow(Connection& c, size_t row);
  void CommitWritten(std::vector<PendingWrite>& writes);
  void LoadImage(const uint8_t* data, size_t size, std::string_view key);
  size_t FieldIndexOf(const automation::Variant& nameOrIndex) const;
  void Reset();
  // Row `row` of the source read, with the rest of its page or as many again as were read before.
  void Fetch(size_t row) const;
  // Every row of the source read.
  void FetchAll() const;
  void FetchRange(size_t first, size_t last) const;
  Change& EnsureChange(Row& r);
  automation::Variant CoerceForField(size_t index, automation::Variant v) const;

  bool open_ = false;
  std::shared_ptr<Connection> connection_;
  MetaPtr meta_;
  // Rows of a row source are read in const members as they are reached.
  mutable CellStore cells_;
  mutable RowTable rows_;
  std::shared_ptr<RowSource> rowSource_;
  std::ptrdiff_t pos_ = kEof;
  size_t visible_ = 0;
  int32_t editMode_ = adEditNone;
  Backup backup_;
  std::ptrdiff_t beforeAdd_ = kEof;
  int32_t lockType_ = adLockReadOnly;
  bool lockTypeSet_ = false;
  int32_t cursorType_ = adOpenStatic;
  int32_t updateCriteria_ = adCriteriaUpdCols;
  int32_t pageSize_ = 10;
  std::string uniqueTable_;
  std::string source_;
  std::unordered_map<std::string, automation::Variant> otherProperties_;
};

}  // namespace ado

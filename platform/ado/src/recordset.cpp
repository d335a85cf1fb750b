// Recordset: opening, position, fields, editing and the by-name classes around it.
#include "automation/text.h"
#include "ado/recordset.h"

#include <cctype>
#include <cmath>

#include "ado/command.h"
#include "ado/connection.h"
#include "ado/stream.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {

constexpr const char* kSource = "ADODB.Recordset";

// The dynamic properties a recordset knows, in the letter case ADO gives them.
constexpr std::string_view kProperties[] = {"Update Criteria", "Unique Table", "Unique Schema", "Unique Catalog",
                                            "Resync Command", "Update Resync", "Batch Size"};

std::string_view CanonicalProperty(std::string_view name) {
  for (std::string_view p : kProperties)
    if (automation::EqualsNoCase(p, name)) return p;
  return {};
}

}  // namespace

// ---------------------------------------------------------------- metadata

void RecordsetMeta::Index() {
  byName.clear();
  for (size_t i = 0; i < fields.size(); ++i) byName.emplace(detail::Lower(fields[i].name), i);
}

std::optional<size_t> RecordsetMeta::Find(std::string_view name) const {
  char buf[128];
  std::string heap;
  std::string_view key;
  if (name.size() <= sizeof buf) {
    for (size_t i = 0; i < name.size(); ++i)
      buf[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    key = std::string_view(buf, name.size());
  } else {
    heap = detail::Lower(name);
    key = heap;
  }
  auto it = byName.find(key);
  if (it == byName.end()) return std::nullopt;
  return it->second;
}

// ---------------------------------------------------------------- FieldRef

const FieldInfo& FieldRef::Info() const { return rs_->Info(index_); }
const std::string& FieldRef::Name() const { return Info().name; }
int32_t FieldRef::Type() const { return Info().type; }
int32_t FieldRef::DefinedSize() const { return Info().definedSize; }
int32_t FieldRef::Attributes() const { return Info().attributes; }
Variant FieldRef::Value() const { return rs_->Value(index_); }
void FieldRef::SetValue(Variant v) const { rs_->SetValue(index_, std::move(v)); }
Variant FieldRef::OriginalValue() const { return rs_->OriginalValue(index_); }
int32_t FieldRef::Status() const { return rs_->FieldStatus(index_); }
int32_t FieldRef::ActualSize() const {
  Variant v = Value();
  if (v.IsNull() || v.IsEmpty()) return 0;
  if (const std::string* s = v.StringIf()) return static_cast<int32_t>(automation::CharLength(*s));
  if (v.IsBytes()) return static_cast<int32_t>(v.ToBytes().size());
  return Info().definedSize;
}

// ---------------------------------------------------------------- rows

Recordset::RowTable::Block* Recordset::RowTable::Find(size_t key) const {
  if (key == lastKey_) return last_;
  auto it = blocks_.find(key);
  if (it == blocks_.end()) return nullptr;
  lastKey_ = key;
  last_ = it->second.get();
  return last_;
}

const Recordset::Row& Recordset::RowTable::Get(size_t i) const {
  static const Row unread;
  const Block* b = Find(i / kBlock);
  return b ? b->rows[i % kBlock] : unread;
}

Recordset::Row& Recordset::RowTable::Hold(size_t i) {
  Block* b = Find(i / kBlock);
  if (!b) {
    b = blocks_.emplace(i / kBlock, std::make_unique<Block>()).first->second.get();
    lastKey_ = i / kBlock;
    last_ = b;
  }
  return b->rows[i % kBlock];
}

void Recordset::RowTable::PushBack(Row row) {
  Hold(size_) = std::move(row);
  ++size_;
}

void Recordset::RowTable::Clear() {
  blocks_.clear();
  size_ = 0;
  lastKey_ = static_cast<size_t>(-1);
  last_ = nullptr;
}

// ---------------------------------------------------------------- Recordset

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::RequireOpen() const {
  if (!open_) Raise(err::kObjectClosed, kSource);
}

void Recordset::RequireUpdatable() const {
  if (lockType_ == adLockReadOnly) Raise(err::kNotSupported, kSource);
}

void Recordset::Reset() {
  cells_.Clear();
  rows_.Clear();
  rowSource_.reset();
  pos_ = kEof;
  visible_ = 0;
  editMode_ = adEditNone;
  backup_ = Backup{};
  beforeAdd_ = kEof;
  open_ = false;
}

void Recordset::OpenResult(std::shared_ptr<Connection> connection, ResultSet result, int32_t lockType,
                           std::string source) {
  if (open_) Raise(err::kObjectOpen, kSource);
  Reset();
  meta_ = std::move(result.meta);
  cells_ = std::move(result.cells);
  size_t n = meta_->fields.size();
  for (size_t r = 0; r < result.rows; ++r) rows_.PushBack(Row{r * n, RowState::Unmodified, nullptr});
  visible_ = result.rows;
  pos_ = result.rows ? 0 : kEof;
  if (lockType != adLockUnspecified) {
    lockType_ = lockType;
  } else if (!lockTypeSet_) {
    lockType_ = adLockReadOnly;
  }
  cursorType_ = adOpenStatic;
  connection_ = std::move(connection);
  source_ = std::move(source);
  open_ = true;
}

void Recordset::OpenPaged(ResultSet first, size_t total, std::shared_ptr<RowSource> rows, int32_t lockType,
                          std::string source) {
  const size_t read = first.rows;
  if (read > total || !rows) Raise(err::kInvalidArgument, kSource);
  OpenResult(nullptr, std::move(first), lockType, std::move(source));
  // The rows not read yet take no room: only the count.
  rows_.Extend(total - rows_.Size());
  visible_ = total;
  pos_ = total ? 0 : kEof;
  if (read < total) rowSource_ = std::move(rows);
}

void Recordset::FetchRange(size_t first, size_t last) const {
  ResultSet got = rowSource_->Fetch(first, last - first);
  const size_t n = FieldCount();
  if (got.rows != last - first || !got.meta || got.meta->fields.size() != n)
    Raise(err::kFail, kSource, "The rows of the recordset could not be read again.");
  const size_t base = cells_.Size();
  cells_.Append(got.cells);
  for (size_t i = 0; i < got.rows; ++i) rows_.Hold(first + i).base = base + i * n;
}

void Recordset::Fetch(size_t row) const {
  if (!rowSource_ || row >= rows_.Size() || rows_.Get(row).base != kUnfetched) return;
  const size_t window = static_cast<size_t>(pageSize_);
  // A walk going on from rows read (a printed list, a download) reads as far again as the stretch
  // read just before it: a few statements for the whole list rather than one a page, each of which
  // would step over all the rows before it. A row reached otherwise is read with its page.
  size_t run = 0;
  while (run < row && rows_.Get(row - 1 - run).base != kUnfetched) ++run;
  size_t first = row, last = row + 1, end = 0;
  if (run > 0) {
    end = std::min(row + std::max(window, run), rows_.Size());
  } else {
    const size_t pageStart = row - row % window;
    end = std::min(pageStart + window, rows_.Size());
    while (first > pageStart && rows_.Get(first - 1).base == kUnfetched) --first;
  }
  while (last < end && rows_.Get(last).base == kUnfetched) ++last;
  FetchRange(first, last);
}

void Recordset::FetchAll() const {
  if (!rowSource_) return;
  for (size_t i = 0; i < rows_.Size();) {
    if (rows_.Get(i).base != kUnfetched) {
      ++i;
      continue;
    }
    size_t last = i + 1;
    while (last < rows_.Size() && rows_.Get(last).base == kUnfetched) ++last;
    FetchRange(i, last);
    i = last;
  }
}

void Recordset::OpenSql(std::shared_ptr<Connection> connection, std::string_view sql, const Params& params,
                        int32_t lockType) {
  if (open_) Raise(err::kObjectOpen, kSource);
  if (!connection) Raise(err::kInvalidConnection, kSource);
  ResultSet result;
  detail::Run(*connection, sql, params, true, &result);
  // A statement that returns no rows leaves the recordset closed, as ADO does.
  if (result.meta) OpenResult(std::move(connection), std::move(result), lockType, std::string(sql));
}

void Recordset::OpenCommand(Command& cmd, int32_t lockType) {
  if (open_) Raise(err::kObjectOpen, kSource);
  auto connection = cmd.ActiveConnection();
  if (!connection) Raise(err::kInvalidConnection, kSource);
  ResultSet result;
  detail::Run(*connection, cmd.EffectiveText(), cmd.CurrentParams(), true, &result);
  if (result.meta) OpenResult(std::move(connection), std::move(result), lockType, cmd.CommandText());
}

void Recordset::Open(const Variant& source, const Variant& activeConnection, int32_t cursorType, int32_t lockType,
                     int32_t /*options*/) {
  if (open_) Raise(err::kObjectOpen, kSource);
  if (cursorType != adOpenUnspecified && (cursorType < adOpenForwardOnly || cursorType > adOpenStatic))
    Raise(err::kInvalidArgument, kSource);
  if (lockType != adLockUnspecified) SetLockType(lockType);
  int32_t lock = lockType_;

  std::shared_ptr<Connection> connection;
  if (activeConnection.IsObject()) {
    if (auto o = activeConnection.ToObject()) {
      connection = std::dynamic_pointer_cast<Connection>(o);
      if (!connection) Raise(err::kInvalidArgument, kSource);
    }
  } else if (activeConnection.IsString() && !activeConnection.StringIf()->empty()) {
    connection = std::make_shared<Connection>();
    connection->Open(*activeConnection.StringIf());
  } else if (!activeConnection.IsMissing() && !activeConnection.IsEmpty() && !activeConnection.IsNull()) {
    Raise(err::kInvalidArgument, kSource);
  }
  if (!connection) connection = connection_;

  if (source.IsObject() && source.ToObject()) {
    auto o = source.ToObject();
    if (auto cmd = std::dynamic_pointer_cast<Command>(o)) {
      OpenCommand(*cmd, lock);
      return;
    }
    if (auto stream = std::dynamic_pointer_cast<Stream>(o)) {
      std::string key = stream->SigningKey();
      if (key.empty()) {
        if (!connection)
          Raise(err::kInvalidConnection, kSource,
                "A recordset image is signed with the site's secret: open it with a connection to the site "
                "database.");
        key = connection->SiteSecret();
      }
      std::vector<uint8_t> bytes = stream->ReadRest();
      LoadImage(bytes.data(), bytes.size(), key);
      return;
    }
    Raise(err::kInvalidArgument, kSource);
  }
  if (source.IsString() && !source.StringIf()->empty()) {
    if (!connection) Raise(err::kInvalidConnection, kSource);
    OpenSql(connection, *source.StringIf(), {}, lock);
    return;
  }
  if (!source.IsMissing() && !source.IsEmpty() && !source.IsNothing() &&
      !(source.IsString() && source.StringIf()->empty()))
    Raise(err::kInvalidArgument, kSource);
  // No source: the fields appended make an empty recordset, updatable in memory.
  if (!meta_ || meta_->fields.empty())
    Raise(err::kIllegalOperation, kSource, "A recordset without a source needs its fields (Fields.Append) first.");
  Reset();
  if (!lockTypeSet_) lockType_ = adLockBatchOptimistic;
  cursorType_ = adOpenStatic;
  open_ = true;
}

void Recordset::Close() {
  RequireOpen();
  Reset();
}

void Recordset::SetActiveConnectionVariant(const Variant& v) {
  if (v.IsEmpty() || v.IsMissing() || v.IsNull() || v.IsNothing()) {
    connection_.reset();
    return;
  }
  if (v.IsObject()) {
    auto c = std::dynamic_pointer_cast<Connection>(v.ToObject());
    if (!c) Raise(err::kInvalidArgument, kSource);
    connection_ = std::move(c);
    return;
  }
  Raise(err::kInvalidArgument, kSource);
}

Variant Recordset::ActiveConnectionVariant() const {
  return Variant(std::static_pointer_cast<automation::Object>(connection_));
}

// ---------------------------------------------------------------- position

bool Recordset::IsBOF() const {
  RequireOpen();
  if (pos_ == kBof) return true;
  return visible_ == 0 && !(pos_ >= 0 && rows_.Get(static_cast<size_t>(pos_)).state == RowState::Deleted);
}

bool Recordset::IsEOF() const {
  RequireOpen();
  if (pos_ == kEof) return true;
  return visible_ == 0 && !(pos_ >= 0 && rows_.Get(static_cast<size_t>(pos_)).state == RowState::Deleted);
}

std::ptrdiff_t Recordset::NextVisible(std::ptrdiff_t from) const {
  for (auto i = std::max<std::ptrdiff_t>(from, 0); i < static_cast<std::ptrdiff_t>(rows_.Size()); ++i)
    if (Visible(rows_.Get(static_cast<size_t>(i)))) return i;
  return kEof;
}

std::ptrdiff_t Recordset::PrevVisible(std::ptrdiff_t from) const {
  for (auto i = std::min<std::ptrdiff_t>(from, static_cast<std::ptrdiff_t>(rows_.Size()) - 1); i >= 0; --i)
    if (Visible(rows_.Get(static_cast<size_t>(i)))) return i;
  return kBof;
}

std::ptrdiff_t Recordset::VisibleAt(int32_t ordinal) const {
  if (ordinal < 1 || static_cast<size_t>(ordinal) > visible_) return kEof;
  if (visible_ == rows_.Size()) return ordinal - 1;
  int32_t seen = 0;
  for (size_t i = 0; i < rows_.Size(); ++i)
    if (Visible(rows_.Get(i)) && ++seen == ordinal) return static_cast<std::ptrdiff_t>(i);
  return kEof;
}

void Recordset::BeginMove() {
  if (editMode_ != adEditNone) Update();
}

void Recordset::MoveFirst() {
  RequireOpen();
  BeginMove();
  auto p = NextVisible(0);
  if (p == kEof) Raise(err::kNoCurrentRecord, kSource);
  pos_ = p;
}

void Recordset::MoveLast() {
  RequireOpen();
  BeginMove();
  auto p = PrevVisible(static_cast<std::ptrdiff_t>(rows_.Size()) - 1);
  if (p == kBof) Raise(err::kNoCurrentRecord, kSource);
  pos_ = p;
}

void Recordset::MoveNext() {
  if (IsEOF()) Raise(err::kNoCurrentRecord, kSource);
  BeginMove();
  pos_ = NextVisible(pos_ == kBof ? 0 : pos_ + 1);
}

void Recordset::MovePrevious() {
  if (IsBOF()) Raise(err::kNoCurrentRecord, kSource);
  BeginMove();
  pos_ = PrevVisible(pos_ == kEof ? static_cast<std::ptrdiff_t>(rows_.Size()) - 1 : pos_ - 1);
}

void Recordset::Move(int32_t numRecords, const Variant& start) {
  RequireOpen();
  BeginMove();
  if (!start.IsMissing() && !start.IsEmpty()) SetBookmark(start);
  if (numRecords == 0) {
    if (pos_ < 0) Raise(err::kNoCurrentRecord, kSource);
    return;
  }
  if ((numRecords > 0 && IsEOF()) || (numRecords < 0 && IsBOF())) Raise(err::kNoCurrentRecord, kSource);
  int64_t here = pos_ == kBof ? 0 : pos_ == kEof ? static_cast<int64_t>(visible_) + 1 : AbsolutePosition();
  if (here < 0) here = 0;  // a deleted current row
  int64_t target = here + numRecords;
  if (target < 1) {
    pos_ = kBof;
  } else if (target > static_cast<int64_t>(visible_)) {
    pos_ = kEof;
  } else {
    pos_ = VisibleAt(static_cast<int32_t>(target));
  }
}

int32_t Recordset::RecordCount() const {
  RequireOpen();
  return static_cast<int32_t>(visible_);
}

Variant Recordset::Bookmark() const {
  RequireOpen();
  if (pos_ < 0) Raise(err::kNoCurrentRecord, kSource);
  return Variant(static_cast<double>(pos_ + 1));
}

void Recordset::SetBookmark(const Variant& b) {
  RequireOpen();
  double d = 0;
  try {
    d = b.ToDouble();
  } catch (const automation::ComError&) {
    Raise(err::kBadBookmark, kSource);
  }
  if (!(d >= 1 && d <= static_cast<double>(rows_.Size())) || d != std::floor(d)) Raise(err::kBadBookmark, kSource);
  auto index = static_cast<std::ptrdiff_t>(d) - 1;
  if (!Visible(rows_.Get(static_cast<size_t>(index)))) Raise(err::kBadBookmark, kSource);
  BeginMove();
  pos_ = index;
}

int32_t Recordset::AbsolutePosition() const {
  RequireOpen();
  if (pos_ == kBof) return adPosBOF;
  if (pos_ == kEof) return adPosEOF;
  const Row& r = rows_.Get(static_cast<size_t>(pos_));
  if (!Visible(r)) return adPosUnknown;
  if (visible_ == rows_.Size()) return static_cast<int32_t>(pos_ + 1);
  int32_t ordinal = 0;
  for (std::ptrdiff_t i = 0; i <= pos_; ++i)
    if (Visible(rows_.Get(static_cast<size_t>(i)))) ++ordinal;
  return ordinal;
}

void Recordset::SetAbsolutePosition(int32_t p) {
  RequireOpen();
  if (p < 1 || static_cast<size_t>(p) > visible_) Raise(err::kInvalidArgument, kSource);
  BeginMove();
  pos_ = VisibleAt(p);
}

void Recordset::SetPageSize(int32_t n) {
  if (n < 1) Raise(err::kInvalidArgument, kSource);
  pageSize_ = n;
}

int32_t Recordset::PageCount() const {
  RequireOpen();
  return static_cast<int32_t>((visible_ + static_cast<size_t>(pageSize_) - 1) / static_cast<size_t>(pageSize_));
}

int32_t Recordset::AbsolutePage() const {
  int32_t p = AbsolutePosition();
  if (p < 0) return p;
  return (p - 1) / pageSize_ + 1;
}

void Recordset::SetAbsolutePage(int32_t page) {
  RequireOpen();
  if (page < 1 || page > PageCount()) Raise(err::kInvalidArgument, kSource);
  SetAbsolutePosition((page - 1) * pageSize_ + 1);
}

// ---------------------------------------------------------------- fields

size_t Recordset::FieldCount() const { return meta_ ? meta_->fields.size() : 0; }

const FieldInfo& Recordset::Info(size_t index) const {
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  return meta_->fields[index];
}

std::optional<size_t> Recordset::TryFieldIndex(std::string_view name) const {
  if (!meta_) return std::nullopt;
  return meta_->Find(name);
}

size_t Recordset::FieldIndex(std::string_view name) const {
  auto i = TryFieldIndex(name);
  if (!i)
    Raise(err::kItemNotFound, kSource, ErrorText(err::kItemNotFound) + " (field " + std::string(name) + ")");
  return *i;
}

size_t Recordset::FieldIndexOf(const Variant& nameOrIndex) const {
  if (const std::string* s = nameOrIndex.StringIf()) return FieldIndex(*s);
  int32_t i = nameOrIndex.ToLong();
  if (i < 0 || static_cast<size_t>(i) >= FieldCount()) Raise(err::kItemNotFound, kSource);
  return static_cast<size_t>(i);
}

FieldRef Recordset::Field(size_t index) {
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  return FieldRef(*this, index);
}

Recordset::Row& Recordset::CurrentRow() {
  static_cast<const Recordset*>(this)->CurrentRow();
  return rows_.Hold(static_cast<size_t>(pos_));
}

const Recordset::Row& Recordset::CurrentRow() const {
  RequireOpen();
  if (pos_ < 0) Raise(err::kNoCurrentRecord, kSource);
  const size_t at = static_cast<size_t>(pos_);
  if (!Visible(rows_.Get(at))) Raise(err::kDeletedRow, kSource);
  if (rows_.Get(at).base == kUnfetched) Fetch(at);
  return rows_.Get(at);
}

Variant Recordset::Value(size_t index) const {
  const Row& r = CurrentRow();
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  if (r.change) return r.change->values[index];
  return cells_.Get(r.base + index);
}

void Recordset::ReadRest(const std::vector<size_t>& fields, const std::function<void(const std::vector<Variant>&)>& each) {
  RequireOpen();
  BeginMove();
  for (size_t f : fields)
    if (f >= FieldCount()) Raise(err::kItemNotFound, kSource);
  if (IsEOF()) return;
  CurrentRow();  // at BOF or on a deleted row, the refusal of a read of the current row
  // Rows not read are read a stretch at a time; a source that cannot read fields apart gives way
  // to the rows read as a move reads them.
  constexpr size_t kStretch = 512;
  std::vector<const FieldInfo*> infos;
  for (size_t f : fields) infos.push_back(&Info(f));
  std::vector<Variant> values(fields.size());
  bool apart = rowSource_ != nullptr;
  for (std::ptrdiff_t r = pos_; r != kEof;) {
    pos_ = r;
    const size_t at = static_cast<size_t>(r);
    if (apart && rows_.Get(at).base == kUnfetched) {
      size_t last = at + 1;
      while (last < rows_.Size() && last - at < kStretch && rows_.Get(last).base == kUnfetched) ++last;
      ResultSet got = rowSource_->FetchFields(at, last - at, infos);
      if (got.meta) {
        if (got.rows != last - at || got.meta->fields.size() != fields.size())
          Raise(err::kFail, kSource, "The rows of the recordset could not be read again.");
        for (size_t i = 0; i < got.rows; ++i) {
          pos_ = static_cast<std::ptrdiff_t>(at + i);
          for (size_t k = 0; k < fields.size(); ++k) values[k] = got.cells.Get(i * fields.size() + k);
          each(values);
        }
        r = NextVisible(static_cast<std::ptrdiff_t>(last));
        continue;
      }
      apart = false;
    }
    for (size_t k = 0; k < fields.size(); ++k) values[k] = Value(fields[k]);
    each(values);
    r = NextVisible(r + 1);
  }
  pos_ = kEof;
}

Variant Recordset::OriginalValue(size_t index) const {
  const Row& r = CurrentRow();
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  if (r.base == kNoBase) return Variant();
  return cells_.Get(r.base + index);
}

int32_t Recordset::FieldStatus(size_t index) const {
  const Row& r = CurrentRow();
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  if (r.state == RowState::New) return adFieldPendingInsert;
  if (r.change && r.change->assigned[index]) return adFieldPendingChange;
  return adFieldOK;
}

Recordset::Change& Recordset::EnsureChange(Row& r) {
  if (!r.change) {
    auto c = std::make_unique<Change>();
    size_t n = FieldCount();
    c->values.reserve(n);
    for (size_t i = 0; i < n; ++i) c->values.push_back(cells_.Get(r.base + i));
    c->assigned.assign(n, 0);
    r.change = std::move(c);
  }
  return *r.change;
}

Variant Recordset::CoerceForField(size_t index, Variant v) const { return detail::Coerce(meta_->fields[index], v); }

void Recordset::BeginEdit(Row& r) {
  if (editMode_ != adEditNone) return;
  backup_.row = pos_;
  backup_.state = r.state;
  backup_.change = r.change ? std::make_unique<Change>(*r.change) : nullptr;
  editMode_ = adEditInProgress;
}

void Recordset::SetValue(size_t index, Variant v) {
  RequireOpen();
  RequireUpdatable();
  Row& r = CurrentRow();
  if (index >= FieldCount()) Raise(err::kItemNotFound, kSource);
  Variant value = CoerceForField(index, std::move(v));
  BeginEdit(r);
  Change& c = EnsureChange(r);
  c.values[index] = std::move(value);
  c.assigned[index] = 1;
  if (r.state == RowState::Unmodified) r.state = RowState::Modified;
}

std::shared_ptr<FieldsObject> Recordset::GetFields() {
  return std::make_shared<FieldsObject>(std::static_pointer_cast<Recordset>(shared_from_this()));
}

void Recordset::AppendField(const std::string& name, int32_t type, int32_t definedSize, int32_t attributes) {
  if (open_) Raise(err::kIllegalOperation, kSource);
  if (name.empty() || definedSize < 0) Raise(err::kInvalidArgument, kSource);
  if (meta_ && meta_->Find(name)) Raise(3367, kSource, "Object is already in collection. Cannot append.");
  auto m = meta_ ? std::make_shared<RecordsetMeta>(*meta_) : std::make_shared<RecordsetMeta>();
  m->fields.push_back(detail::MakeField(name, type, definedSize, attributes < 0 ? 0 : attributes));
  m->Index();
  meta_ = std::move(m);
}

// ---------------------------------------------------------------- editing

bool Recordset::Live() const {
  return (lockType_ == adLockPessimistic || lockType_ == adLockOptimistic) && connection_ &&
         connection_->State() == adStateOpen;
}

void Recordset::AddNew() {
  RequireOpen();
  RequireUpdatable();
  if (editMode_ != adEditNone) Update();
  size_t n = FieldCount();
  auto c = std::make_unique<Change>();
  c->values.assign(n, Variant::Null());
  c->assigned.assign(n, 0);
  beforeAdd_ = pos_;
  rows_.PushBack(Row{kNoBase, RowState::New, std::move(c)});
  ++visible_;
  pos_ = static_cast<std::ptrdiff_t>(rows_.Size()) - 1;
  editMode_ = adEditAdd;
}

void Recordset::AddNew(const Variant& fieldList, const Variant& values) {
  if (fieldList.IsMissing() || fieldList.IsEmpty()) {
    AddNew();
    return;
  }
  std::vector<Variant> names = fieldList.IsArray() ? fieldList.ToArray() : std::vector<Variant>{fieldList};
  std::vector<Variant> vals = values.IsArray() && !values.IsBytes() ? values.ToArray() : std::vector<Variant>{values};
  if (names.size() != vals.size()) Raise(err::kInvalidArgument, kSource);
  AddNew();
  try {
    for (size_t i = 0; i < names.size(); ++i) SetValue(FieldIndexOf(names[i]), vals[i]);
  } catch (...) {
    CancelUpdate();
    throw;
  }
  Update();
}

void Recordset::Update() {
  RequireOpen();
  if (editMode_ == adEditNone) return;
  if (Live()) WriteRows({static_cast<size_t>(pos_)});  // a failure leaves the edit in progress
  editMode_ = adEditNone;
  backup_ = Backup{};
}

void Recordset::Update(const Variant& fieldList, const Variant& values) {
  if (!fieldList.IsMissing() && !fieldList.IsEmpty()) {
    std::vector<Variant> names = fieldList.IsArray() ? fieldList.ToArray() : std::vector<Variant>{fieldList};
    std::vector<Variant> vals =
        values.IsArray() && !values.IsBytes() ? values.ToArray() : std::vector<Variant>{values};
    if (names.size() != vals.size()) Raise(err::kInvalidArgument, kSource);
    for (size_t i = 0; i < names.size(); ++i) SetValue(FieldIndexOf(names[i]), vals[i]);
  }
  Update();
}

void Recordset::CancelUpdate() {
  RequireOpen();
  if (editMode_ == adEditAdd) {
    Row& r = rows_.Hold(static_cast<size_t>(pos_));
    r.state = RowState::Gone;
    r.change.reset();
    --visible_;
    pos_ = beforeAdd_ >= 0 && Visible(rows_.Get(static_cast<size_t>(beforeAdd_))) ? beforeAdd_ : NextVisible(0);
  } else if (editMode_ == adEditInProgress) {
    Row& r = rows_.Hold(static_cast<size_t>(backup_.row));
    r.state = backup_.state;
    r.change = std::move(backup_.change);
  }
  editMode_ = adEditNone;
  backup_ = Backup{};
}

void Recordset::Delete(int32_t affect) {
  RequireOpen();
  RequireUpdatable();
  if (affect != adAffectCurrent) Raise(err::kNotSupported, kSource, "Only the current record can be deleted.");
  if (editMode_ != adEditNone) Update();
  Row& r = CurrentRow();
  RowState before = r.state;
  if (before == RowState::New) {
    r.state = RowState::Gone;
    r.change.reset();
    --visible_;
    return;
  }
  r.state = RowState::Deleted;
  --visible_;
  if (Live()) {
    try {
      WriteRows({static_cast<size_t>(pos_)});
    } catch (...) {
      r.state = before;
      ++visible_;
      throw;
    }
  }
}

void Recordset::CancelBatch(int32_t affect) {
  RequireOpen();
  if (editMode_ != adEditNone) CancelUpdate();
  auto revert = [&](Row& r) {
    switch (r.state) {
      case RowState::Modified:
        r.change.reset();
        r.state = RowState::Unmodified;
        break;
      case RowState::New:
        r.change.reset();
        r.state = RowState::Gone;
        --visible_;
        break;
      case RowState::Deleted:
        r.change.reset();
        r.state = RowState::Unmodified;
        ++visible_;
        break;
      default: break;
    }
  };
  if (affect == adAffectCurrent) {
    if (pos_ >= 0) revert(rows_.Hold(static_cast<size_t>(pos_)));
  } else {
    rows_.ForEachHeld([&](size_t, Row& r) { revert(r); });
  }
  if (pos_ >= 0 && !Visible(rows_.Get(static_cast<size_t>(pos_)))) pos_ = NextVisible(0);
}

int32_t Recordset::Status() const {
  RequireOpen();
  if (pos_ < 0) Raise(err::kNoCurrentRecord, kSource);
  switch (rows_.Get(static_cast<size_t>(pos_)).state) {
    case RowState::New: return adRecNew;
    case RowState::Modified: return adRecModified;
    case RowState::Deleted:
    case RowState::Gone: return adRecDeleted;
    default: return adRecUnmodified;
  }
}

// ---------------------------------------------------------------- properties

void Recordset::SetLockType(int32_t t) {
  if (open_) Raise(err::kObjectOpen, kSource);
  if (t != adLockUnspecified && (t < adLockReadOnly || t > adLockBatchOptimistic)) Raise(err::kInvalidArgument, kSource);
  if (t == adLockUnspecified) return;
  lockType_ = t;
  lockTypeSet_ = true;
}

void Recordset::SetCursorType(int32_t t) {
  if (open_) Raise(err::kObjectOpen, kSource);
  if (t < adOpenUnspecified || t > adOpenStatic) Raise(err::kInvalidArgument, kSource);
  cursorType_ = adOpenStatic;  // client-side cursors are static
}

void Recordset::SetUpdateCriteria(int32_t c) {
  if (c < adCriteriaKey || c > adCriteriaTimeStamp) Raise(err::kInvalidArgument, kSource);
  updateCriteria_ = c;
}

// Every option asked for must be there. The rows are held in memory, client-side and static:
// moving back, bookmarks, positions, Find and holding rows always work; changes only where the
// lock type lets them; Resync, Notify, Index and Seek never.
bool Recordset::Supports(int32_t cursorOptions) const {
  int32_t can = adHoldRecords | adMovePrevious | adBookmark | adApproxPosition | adFind;
  if (lockType_ != adLockReadOnly) can |= adAddNew | adDelete | adUpdate;
  if (lockType_ == adLockBatchOptimistic) can |= adUpdateBatch;
  return (cursorOptions & ~can) == 0;
}

std::shared_ptr<PropertiesObject> Recordset::GetProperties() {
  return std::make_shared<PropertiesObject>(std::static_pointer_cast<Recordset>(shared_from_this()));
}

Variant Recordset::DynamicProperty(std::string_view name) const {
  std::string_view p = CanonicalProperty(name);
  if (p.empty()) Raise(err::kItemNotFound, kSource);
  if (p == "Update Criteria") return Variant(updateCriteria_);
  if (p == "Unique Table") return Variant(uniqueTable_);
  auto it = otherProperties_.find(std::string(p));
  return it == otherProperties_.end() ? Variant() : it->second;
}

void Recordset::SetDynamicProperty(std::string_view name, const Variant& v) {
  std::string_view p = CanonicalProperty(name);
  if (p.empty()) Raise(err::kItemNotFound, kSource);
  if (p == "Update Criteria") {
    SetUpdateCriteria(v.ToLong());
  } else if (p == "Unique Table") {
    uniqueTable_ = v.ToString();
  } else {
    otherProperties_[std::string(p)] = v;
  }
}

std::vector<std::string> Recordset::BaseTables() const {
  std::vector<std::string> out;
  if (!meta_) return out;
  for (const FieldInfo& f : meta_->fields) {
    if (f.baseTable.empty()) continue;
    bool seen = false;
    for (const auto& t : out) seen = seen || automation::EqualsNoCase(t, f.baseTable);
    if (!seen) out.push_back(f.baseTable);
  }
  return out;
}

std::vector<std::string> Recordset::KeyColumns(std::string_view table) const {
  std::vector<std::string> out;
  if (!meta_) return out;
  for (const FieldInfo& f : meta_->fields) {
    if (!f.key || !automation::EqualsNoCase(f.baseTable, table)) continue;
    bool seen = false;
    for (const auto& c : out) seen = seen || automation::EqualsNoCase(c, f.baseColumn);
    if (!seen) out.push_back(f.baseColumn);
  }
  return out;
}

// ---------------------------------------------------------------- by-name companions

int32_t FieldsObject::Count() const { return static_cast<int32_t>(rs_->FieldCount()); }

std::shared_ptr<FieldObject> FieldsObject::Item(const Variant& index) const {
  size_t i = 0;
  if (const std::string* s = index.StringIf()) {
    i = rs_->FieldIndex(*s);
  } else {
    int32_t n = index.ToLong();
    if (n < 0 || n >= Count()) Raise(err::kItemNotFound, "ADODB.Fields");
    i = static_cast<size_t>(n);
  }
  return std::make_shared<FieldObject>(rs_, i);
}

void FieldsObject::Append(const std::string& name, int32_t type, int32_t definedSize, int32_t attrib,
                          const Variant& value) {
  if (!value.IsMissing() && !value.IsEmpty())
    Raise(err::kNotSupported, "ADODB.Fields", "A field is appended without a value; set it on each row.");
  rs_->AppendField(name, type, definedSize, attrib);
}

FieldRef FieldObject::Ref() const { return FieldRef(*rs_, index_); }
std::string FieldObject::Name() const { return rs_->Info(index_).name; }
int32_t FieldObject::Type() const { return rs_->Info(index_).type; }
int32_t FieldObject::DefinedSize() const { return rs_->Info(index_).definedSize; }
int32_t FieldObject::Attributes() const { return rs_->Info(index_).attributes; }
int32_t FieldObject::Precision() const { return rs_->Info(index_).precision; }
int32_t FieldObject::NumericScale() const { return rs_->Info(index_).numericScale; }
int32_t FieldObject::ActualSize() const { return Ref().ActualSize(); }
Variant FieldObject::Value() const { return rs_->Value(index_); }
void FieldObject::SetValue(const Variant& v) { rs_->SetValue(index_, v); }
Variant FieldObject::OriginalValue() const { return rs_->OriginalValue(index_); }
Variant FieldObject::UnderlyingValue() const { return rs_->OriginalValue(index_); }
int32_t FieldObject::Status() const { return rs_->FieldStatus(index_); }

std::shared_ptr<PropertyObject> PropertiesObject::Item(const Variant& name) const {
  std::string n = name.ToString();
  std::string_view p = CanonicalProperty(n);
  if (p.empty()) Raise(err::kItemNotFound, "ADODB.Properties");
  return std::make_shared<PropertyObject>(rs_, std::string(p));
}

int32_t PropertiesObject::Count() const { return static_cast<int32_t>(std::size(kProperties)); }

Variant PropertyObject::Value() const { return rs_->DynamicProperty(name_); }
void PropertyObject::SetValue(const Variant& v) { rs_->SetDynamicProperty(name_, v); }

namespace {

automation::Register<Recordset> regRecordset("Recordset", "ADODB.Recordset", [](auto& c) {
  using R = Recordset;
  Variant missing = Variant::Missing();
  c.Method("Open", &R::Open, {missing, missing, Variant(-1), Variant(-1), Variant(-1)});
  c.Method("Close", &R::Close);
  c.Property("State", &R::State);
  c.PropertyRef("ActiveConnection", &R::ActiveConnectionVariant, &R::SetActiveConnectionVariant);
  c.Property("BOF", &R::IsBOF);
  c.Property("EOF", &R::IsEOF);
  c.Method("MoveFirst", &R::MoveFirst);
  c.Method("MoveLast", &R::MoveLast);
  c.Method("MoveNext", &R::MoveNext);
  c.Method("MovePrevious", &R::MovePrevious);
  c.Method("Move", &R::Move, {missing});
  c.Property("RecordCount", &R::RecordCount);
  c.Property("Bookmark", &R::Bookmark, &R::SetBookmark);
  c.Property("AbsolutePosition", &R::AbsolutePosition, &R::SetAbsolutePosition);
  c.Property("PageSize", &R::PageSize, &R::SetPageSize);
  c.Property("PageCount", &R::PageCount);
  c.Property("AbsolutePage", &R::AbsolutePage, &R::SetAbsolutePage);
  c.Method("Find", &R::Find, {Variant(0), Variant(1), missing});
  c.Property("Fields", &R::GetFields);
  c.Method("AddNew", static_cast<void (R::*)(const Variant&, const Variant&)>(&R::AddNew), {missing, missing});
  c.Method("Update", static_cast<void (R::*)(const Variant&, const Variant&)>(&R::Update), {missing, missing});
  c.Method("CancelUpdate", &R::CancelUpdate);
  c.Method("Delete", &R::Delete, {Variant(1)});
  c.Method("UpdateBatch", &R::UpdateBatch, {Variant(3)});
  c.Method("CancelBatch", &R::CancelBatch, {Variant(3)});
  c.Property("EditMode", &R::EditMode);
  c.Property("Status", &R::Status);
  c.Property("LockType", &R::LockType, &R::SetLockType);
  c.Property("CursorType", &R::CursorType, &R::SetCursorType);
  c.Property("CursorLocation", &R::CursorLocation, &R::SetCursorLocation);
  c.Property("Source", &R::Source);
  c.Method("Supports", &R::Supports);
  c.Property("Properties", &R::GetProperties);
  c.Method("Save", &R::Save, {missing, Variant(0)});
  c.Default("Fields");
});

automation::Register<FieldsObject> regFields("Fields", "", [](auto& c) {
  using F = FieldsObject;
  Variant missing = Variant::Missing();
  c.Property("Count", &F::Count);
  c.Property("Item", &F::Item);
  c.Method("Append", &F::Append, {Variant(0), Variant(-1), missing});
  c.Method("Refresh", &F::Refresh);
  c.Default("Item");
});

automation::Register<FieldObject> regField("Field", "", [](auto& c) {
  using F = FieldObject;
  c.Property("Name", &F::Name);
  c.Property("Type", &F::Type);
  c.Property("DefinedSize", &F::DefinedSize);
  c.Property("Attributes", &F::Attributes);
  c.Property("ActualSize", &F::ActualSize);
  c.Property("Precision", &F::Precision);
  c.Property("NumericScale", &F::NumericScale);
  c.Property("Value", &F::Value, &F::SetValue);
  c.Property("OriginalValue", &F::OriginalValue);
  c.Property("UnderlyingValue", &F::UnderlyingValue);
  c.Property("Status", &F::Status);
  c.Default("Value");
});

automation::Register<PropertiesObject> regProperties("Properties", "", [](auto& c) {
  c.Property("Item", &PropertiesObject::Item);
  c.Property("Count", &PropertiesObject::Count);
  c.Default("Item");
});

automation::Register<PropertyObject> regProperty("Property", "", [](auto& c) {
  c.Property("Name", &PropertyObject::Name);
  c.Property("Value", &PropertyObject::Value, &PropertyObject::SetValue);
  c.Default("Value");
});

}  // namespace

}  // namespace ado

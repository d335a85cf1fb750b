// The recordset image: our own versioned binary form of a recordset, signed with HMAC-SHA256.
//
//   "VRSI" u8 version  body  tag[32]
//   body: i32 lockType, i32 updateCriteria, i32 pageSize, str uniqueTable, str source,
//         u32 fieldCount, fields, u32 rowCount, rows
//   field: str name, i32 type, i32 definedSize, i32 attributes, u8 precision, u8 scale,
//          u8 flags (sizeEnforced, key, rowVersion, autoIncrement, notNull), u8 decode,
//          str baseSchema, str baseTable, str baseColumn
//   row:   u8 state (0 unmodified, 1 modified, 2 new, 3 deleted), u8 hasChange,
//          [fieldCount values as read, unless new], [assigned bitmap, fieldCount values, if hasChange]
//   value: u8 tag, then the payload (little-endian numbers; str = u32 length + bytes)
//
// The tag covers everything before it. The reader checks the tag before it looks at the body,
// and checks every length against what is left, so no input makes it read past the end.
#include <sodium.h>

#include <cmath>
#include <cstring>

#include "ado/connection.h"
#include "automation/input_fault.h"
#include "ado/recordset.h"
#include "ado/stream.h"
#include "engine.h"

namespace ado {

using automation::Variant;
using automation::VarType;

namespace {

constexpr const char* kSource = "ADODB.Recordset";
constexpr char kMagic[4] = {'V', 'R', 'S', 'I'};
constexpr uint8_t kVersion = 1;
constexpr size_t kTagSize = crypto_auth_hmacsha256_BYTES;
constexpr size_t kMaxFields = 32767;

// Value tags: the cell kinds.
enum Tag : uint8_t {
  kEmpty = CellStore::kEmpty, kNull = CellStore::kNull, kFalse = CellStore::kFalse, kTrue = CellStore::kTrue,
  kByte = CellStore::kByte, kInteger = CellStore::kInteger, kLong = CellStore::kLong,
  kLongLong = CellStore::kLongLong, kSingle = CellStore::kSingle, kDouble = CellStore::kDouble,
  kCurrency = CellStore::kCurrency, kDate = CellStore::kDate, kString = CellStore::kText,
  kBytes = CellStore::kBytes,
};

[[noreturn]] void Refuse(const std::string& why) { Raise(err::kFail, kSource, why); }
// An image that is not one of ours, as it came back from outside: the sender's fault, not ours.
[[noreturn]] void RefuseImage(const std::string& why) { throw automation::InputFault(err::kFail, kSource, why); }
[[noreturn]] void Damaged() { RefuseImage("The recordset image is damaged or was not made by this site."); }

void RequireSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) Refuse("The cryptographic library could not start.");
}

void Sign(const uint8_t* data, size_t size, std::string_view key, uint8_t out[kTagSize]) {
  if (key.empty()) Refuse("A recordset image cannot be signed or checked without a key.");
  RequireSodium();
  crypto_auth_hmacsha256_state st;
  crypto_auth_hmacsha256_init(&st, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  crypto_auth_hmacsha256_update(&st, data, size);
  crypto_auth_hmacsha256_final(&st, out);
}

class Writer {
 public:
  std::vector<uint8_t> bytes;
  void U8(uint8_t v) { bytes.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void F64(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    U64(u);
  }
  void Str(std::string_view s) {
    if (s.size() > 0xFFFFFFFFu) Refuse("A value is too large for a recordset image.");
    U32(static_cast<uint32_t>(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  void Cell(const CellStore& cells, size_t i) {
    auto k = cells.KindAt(i);
    U8(k);
    switch (k) {
      case CellStore::kByte: U8(static_cast<uint8_t>(cells.IntegerAt(i))); return;
      case CellStore::kInteger:
      case CellStore::kLong: I32(static_cast<int32_t>(cells.IntegerAt(i))); return;
      case CellStore::kLongLong: U64(static_cast<uint64_t>(cells.IntegerAt(i))); return;
      case CellStore::kSingle:
      case CellStore::kDouble:
      case CellStore::kCurrency:
      case CellStore::kDate: F64(cells.RealAt(i)); return;
      case CellStore::kText:
      case CellStore::kBytes: Str(cells.TextAt(i)); return;
      default: return;
    }
  }
  void Value(const Variant& v) {
    switch (v.Type()) {
      case VarType::Empty: U8(kEmpty); return;
      case VarType::Null: U8(kNull); return;
      case VarType::Boolean: U8(v.ToBool() ? kTrue : kFalse); return;
      case VarType::Byte: U8(kByte); U8(v.ToByte()); return;
      case VarType::Integer: U8(kInteger); U32(static_cast<uint32_t>(static_cast<int32_t>(v.ToInt()))); return;
      case VarType::Long: U8(kLong); I32(v.ToLong()); return;
      case VarType::LongLong: U8(kLongLong); U64(static_cast<uint64_t>(v.ToLongLong())); return;
      case VarType::Single: U8(kSingle); F64(v.ToDouble()); return;
      case VarType::Double: U8(kDouble); F64(v.ToDouble()); return;
      case VarType::Currency: U8(kCurrency); F64(v.ToDouble()); return;
      case VarType::Date: U8(kDate); F64(v.ToDate().value); return;
      case VarType::String: U8(kString); Str(*v.StringIf()); return;
      case VarType::ByteArray: {
        U8(kBytes);
        std::vector<uint8_t> b = v.ToBytes();
        Str(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
        return;
      }
      default: Refuse("A value of this kind cannot be kept in a recordset image.");
    }
  }
};

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  size_t Left() const { return n_ - i_; }
  uint8_t U8() {
    Need(1);
    return p_[i_++];
  }
  uint32_t U32() {
    Need(4);
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<uint32_t>(p_[i_ + k]) << (8 * k);
    i_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64() {
    Need(8);
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= static_cast<uint64_t>(p_[i_ + k]) << (8 * k);
    i_ += 8;
    return v;
  }
  double F64() {
    uint64_t u = U64();
    double d;
    std::memcpy(&d, &u, 8);
    if (!std::isfinite(d)) Damaged();
    return d;
  }
  std::string Str() {
    uint32_t len = U32();
    Need(len);
    std::string s(reinterpret_cast<const char*>(p_ + i_), len);
    i_ += len;
    return s;
  }
  Variant Value() {
    switch (U8()) {
      case kEmpty: return Variant();
      case kNull: return Variant::Null();
      case kFalse: return Variant(false);
      case kTrue: return Variant(true);
      case kByte: return Variant::Byte(U8());
      case kInteger: {
        int32_t v = I32();
        if (v < -32768 || v > 32767) Damaged();
        return Variant::Integer(static_cast<int16_t>(v));
      }
      case kLong: return Variant(I32());
      case kLongLong: return Variant::LongLong(static_cast<int64_t>(U64()));
      case kSingle: {
        double d = F64();
        if (std::fabs(d) > 3.4028234663852886e38) Damaged();
        return Variant::Single(static_cast<float>(d));
      }
      case kDouble: return Variant(F64());
      case kCurrency: return Variant::Currency(F64());
      case kDate: {
        double d = F64();
        if (d < -657434.0 || d >= 2958466.0) Damaged();
        return Variant::FromDate(automation::Date{d});
      }
      case kString: return Variant(Str());
      case kBytes: {
        std::string s = Str();
        return Variant::Bytes(std::vector<uint8_t>(s.begin(), s.end()));
      }
      default: Damaged();
    }
  }
  void Cell(CellStore& out) {
    uint8_t tag = U8();
    switch (tag) {
      case kEmpty:
      case kNull:
      case kFalse:
      case kTrue: return out.PushKind(static_cast<CellStore::Kind>(tag));
      case kByte: return out.PushInteger(CellStore::kByte, U8());
      case kInteger: {
        int32_t v = I32();
        if (v < -32768 || v > 32767) Damaged();
        return out.PushInteger(CellStore::kInteger, v);
      }
      case kLong: return out.PushInteger(CellStore::kLong, I32());
      case kLongLong: return out.PushInteger(CellStore::kLongLong, static_cast<int64_t>(U64()));
      case kSingle: {
        double d = F64();
        if (std::fabs(d) > 3.4028234663852886e38) Damaged();
        return out.PushReal(CellStore::kSingle, static_cast<float>(d));
      }
      case kDouble:
      case kCurrency: return out.PushReal(static_cast<CellStore::Kind>(tag), F64());
      case kDate: {
        double d = F64();
        if (d < -657434.0 || d >= 2958466.0) Damaged();
        return out.PushReal(CellStore::kDate, d);
      }
      case kString:
      case kBytes: {
        uint32_t len = U32();
        Need(len);
        out.PushText(static_cast<CellStore::Kind>(tag), reinterpret_cast<const char*>(p_ + i_), len);
        i_ += len;
        return;
      }
      default: Damaged();
    }
  }

 private:
  void Need(size_t k) const {
    if (k > n_ - i_) Damaged();
  }
  const uint8_t* p_;
  size_t n_;
  size_t i_ = 0;
};

}  // namespace

std::vector<uint8_t> Recordset::SaveImage(std::string_view key) {
  FetchAll();  // an image holds every row
  RequireOpen();
  if (key.empty()) Refuse("A recordset image cannot be signed or checked without a key.");
  if (editMode_ != adEditNone) {
    // The edit is kept as a pending change.
    editMode_ = adEditNone;
    backup_ = Backup{};
  }
  Writer w;
  w.bytes.reserve(64 + cells_.Size() * 6 + cells_.ArenaSize());
  w.bytes.insert(w.bytes.end(), kMagic, kMagic + 4);
  w.U8(kVersion);
  w.I32(lockType_);
  w.I32(updateCriteria_);
  w.I32(pageSize_);
  w.Str(uniqueTable_);
  w.Str(source_);
  size_t n = FieldCount();
  w.U32(static_cast<uint32_t>(n));
  for (const FieldInfo& f : meta_->fields) {
    w.Str(f.name);
    w.I32(f.type);
    w.I32(f.definedSize);
    w.I32(f.attributes);
    w.U8(f.precision);
    w.U8(f.numericScale);
    w.U8(static_cast<uint8_t>((f.sizeEnforced ? 1 : 0) | (f.key ? 2 : 0) | (f.rowVersion ? 4 : 0) |
                              (f.autoIncrement ? 8 : 0) | (f.notNull ? 16 : 0)));
    w.U8(static_cast<uint8_t>(f.decode));
    w.Str(f.baseSchema);
    w.Str(f.baseTable);
    w.Str(f.baseColumn);
  }
  uint32_t kept = 0;
  for (size_t i = 0; i < rows_.Size(); ++i) kept += rows_.Get(i).state != RowState::Gone ? 1 : 0;
  w.U32(kept);
  for (size_t i = 0; i < rows_.Size(); ++i) {
    const Row& r = rows_.Get(i);
    if (r.state == RowState::Gone) continue;
    uint8_t state = r.state == RowState::Modified ? 1 : r.state == RowState::New ? 2 : r.state == RowState::Deleted ? 3 : 0;
    bool hasChange = r.change && (r.state == RowState::Modified || r.state == RowState::New);
    w.U8(state);
    w.U8(hasChange ? 1 : 0);
    if (r.base != kNoBase)
      for (size_t f = 0; f < n; ++f) w.Cell(cells_, r.base + f);
    if (hasChange) {
      for (size_t b = 0; b < (n + 7) / 8; ++b) {
        uint8_t bits = 0;
        for (size_t k = 0; k < 8 && b * 8 + k < n; ++k)
          if (r.change->assigned[b * 8 + k]) bits |= static_cast<uint8_t>(1u << k);
        w.U8(bits);
      }
      for (size_t f = 0; f < n; ++f) w.Value(r.change->values[f]);
    }
  }
  uint8_t tag[kTagSize];
  Sign(w.bytes.data(), w.bytes.size(), key, tag);
  w.bytes.insert(w.bytes.end(), tag, tag + kTagSize);
  return std::move(w.bytes);
}

std::vector<uint8_t> Recordset::SealImage(std::vector<uint8_t> unsignedImage, std::string_view key) {
  uint8_t tag[kTagSize];
  Sign(unsignedImage.data(), unsignedImage.size(), key, tag);
  unsignedImage.insert(unsignedImage.end(), tag, tag + kTagSize);
  return unsignedImage;
}

std::shared_ptr<Recordset> Recordset::OpenImage(const uint8_t* data, size_t size, std::string_view key) {
  auto rs = std::make_shared<Recordset>();
  rs->LoadImage(data, size, key);
  return rs;
}

namespace {

// The signed body of an image: magic, format and tag checked.
Reader ImageBody(const uint8_t* data, size_t size, std::string_view key) {
  if (size < 5 + kTagSize || std::memcmp(data, kMagic, 4) != 0) RefuseImage("The data is not a recordset image.");
  if (data[4] != kVersion)
    RefuseImage("The recordset image was made by another version of the library (format " + std::to_string(data[4]) + ").");
  size_t bodyEnd = size - kTagSize;
  uint8_t tag[kTagSize];
  Sign(data, bodyEnd, key, tag);
  if (sodium_memcmp(tag, data + bodyEnd, kTagSize) != 0) Damaged();

  return Reader(data + 5, bodyEnd - 5);
}

FieldInfo ReadField(Reader& r) {
  FieldInfo f;
  f.name = r.Str();
  f.type = r.I32();
  f.definedSize = r.I32();
  f.attributes = r.I32();
  f.precision = r.U8();
  f.numericScale = r.U8();
  uint8_t flags = r.U8();
  if (flags > 31) Damaged();
  f.sizeEnforced = flags & 1;
  f.key = flags & 2;
  f.rowVersion = flags & 4;
  f.autoIncrement = flags & 8;
  f.notNull = flags & 16;
  uint8_t decode = r.U8();
  if (decode > static_cast<uint8_t>(Decode::Binary)) Damaged();
  f.decode = static_cast<Decode>(decode);
  if (f.definedSize < 0) Damaged();
  f.baseSchema = r.Str();
  f.baseTable = r.Str();
  f.baseColumn = r.Str();
  return f;
}

std::shared_ptr<RecordsetMeta> ReadFields(Reader& r) {
  uint32_t n = r.U32();
  if (n == 0 || n > kMaxFields || n > r.Left()) Damaged();
  auto meta = std::make_shared<RecordsetMeta>();
  meta->fields.reserve(n);
  for (uint32_t i = 0; i < n; ++i) meta->fields.push_back(ReadField(r));
  meta->Index();
  return meta;
}

}  // namespace

void Recordset::LoadImage(const uint8_t* data, size_t size, std::string_view key) {
  if (open_) Raise(err::kObjectOpen, kSource);
  Reader r = ImageBody(data, size, key);
  int32_t lockType = r.I32();
  int32_t criteria = r.I32();
  int32_t pageSize = r.I32();
  if (lockType < adLockReadOnly || lockType > adLockBatchOptimistic || criteria < adCriteriaKey ||
      criteria > adCriteriaTimeStamp || pageSize < 1)
    Damaged();
  std::string uniqueTable = r.Str();
  std::string source = r.Str();
  std::shared_ptr<RecordsetMeta> meta = ReadFields(r);
  const uint32_t n = static_cast<uint32_t>(meta->fields.size());
  uint32_t rowCount = r.U32();
  // Each row takes at least its two state bytes.
  if (rowCount > r.Left() / 2) Damaged();

  CellStore cells;
  RowTable rows;
  size_t visible = 0;
  for (uint32_t k = 0; k < rowCount; ++k) {
    uint8_t state = r.U8();
    uint8_t hasChange = r.U8();
    if (state > 3 || hasChange > 1) Damaged();
    if ((state == 1 || state == 2) != (hasChange == 1)) Damaged();
    Row row{kNoBase, RowState::Unmodified, nullptr};
    row.state = state == 1 ? RowState::Modified : state == 2 ? RowState::New : state == 3 ? RowState::Deleted
                                                                                         : RowState::Unmodified;
    if (state != 2) {
      if (n > r.Left()) Damaged();  // each value takes at least one byte
      row.base = cells.Size();
      for (uint32_t f = 0; f < n; ++f) r.Cell(cells);
    }
    if (hasChange) {
      auto c = std::make_unique<Change>();
      c->assigned.assign(n, 0);
      for (uint32_t b = 0; b < (n + 7) / 8; ++b) {
        uint8_t bits = r.U8();
        for (uint32_t j = 0; j < 8; ++j) {
          bool set = bits & (1u << j);
          if (b * 8 + j < n) {
            c->assigned[b * 8 + j] = set ? 1 : 0;
          } else if (set) {
            Damaged();
          }
        }
      }
      if (n > r.Left()) Damaged();
      c->values.reserve(n);
      for (uint32_t f = 0; f < n; ++f) c->values.push_back(r.Value());
      row.change = std::move(c);
    }
    if (row.state != RowState::Deleted) ++visible;
    rows.PushBack(std::move(row));
  }
  if (r.Left() != 0) Damaged();

  Reset();
  meta_ = std::move(meta);
  cells_ = std::move(cells);
  rows_ = std::move(rows);
  visible_ = visible;
  lockType_ = lockType;
  lockTypeSet_ = true;
  updateCriteria_ = criteria;
  pageSize_ = pageSize;
  uniqueTable_ = std::move(uniqueTable);
  source_ = std::move(source);
  cursorType_ = adOpenStatic;
  connection_.reset();
  pos_ = NextVisible(0);
  open_ = true;
}

void Recordset::Save(const Variant& destination, int32_t persistFormat) {
  RequireOpen();
  if (persistFormat != adPersistADTG) Raise(err::kNotSupported, kSource, "Only the binary image format is supported.");
  std::shared_ptr<Stream> stream;
  if (destination.IsObject()) stream = std::dynamic_pointer_cast<Stream>(destination.ToObject());
  if (!stream) Raise(err::kInvalidArgument, kSource, "A recordset is saved into a Stream.");
  std::string key = stream->SigningKey();
  if (key.empty()) {
    if (!connection_)
      Raise(err::kInvalidConnection, kSource,
            "A recordset image is signed with the site's secret: save it while the recordset has its connection.");
    key = connection_->SiteSecret();
  }
  std::vector<uint8_t> image = SaveImage(key);
  stream->WriteBytes(image.data(), image.size());
}

}  // namespace ado

// CellStore: values as read, 16 bytes each, text and bytes in one arena.
#include <limits>

#include "ado/errors.h"
#include "ado/recordset.h"

namespace ado {

using automation::Variant;
using automation::VarType;

namespace {

CellStore::Kind KindOf(const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty: return CellStore::kEmpty;
    case VarType::Null: return CellStore::kNull;
    case VarType::Boolean: return v.ToBool() ? CellStore::kTrue : CellStore::kFalse;
    case VarType::Byte: return CellStore::kByte;
    case VarType::Integer: return CellStore::kInteger;
    case VarType::Long: return CellStore::kLong;
    case VarType::LongLong: return CellStore::kLongLong;
    case VarType::Single: return CellStore::kSingle;
    case VarType::Double: return CellStore::kDouble;
    case VarType::Currency: return CellStore::kCurrency;
    case VarType::Date: return CellStore::kDate;
    case VarType::String: return CellStore::kText;
    case VarType::ByteArray: return CellStore::kBytes;
    default: Raise(err::kDataConversion, "ADODB.Field", "A field cannot hold a value of this kind.");
  }
}

}  // namespace

void CellStore::PushText(Kind k, const char* p, size_t n) {
  if (n > std::numeric_limits<uint32_t>::max()) Raise(err::kDataOverflow, "ADODB.Field");
  Cell c{k, static_cast<uint32_t>(n), {.off = arena_.size()}};
  arena_.append(p, n);
  cells_.push_back(c);
}

void CellStore::Append(const CellStore& other) {
  cells_.reserve(cells_.size() + other.cells_.size());
  arena_.reserve(arena_.size() + other.arena_.size());
  for (const Cell& c : other.cells_) {
    if (c.kind == kText || c.kind == kBytes)
      PushText(c.kind, other.arena_.data() + c.u.off, c.len);
    else
      cells_.push_back(c);
  }
}

void CellStore::Push(const Variant& v) {
  cells_.push_back(Cell{kEmpty, 0, {.i = 0}});
  Set(cells_.size() - 1, v);
}

void CellStore::Set(size_t i, const Variant& v) {
  Kind k = KindOf(v);
  Cell& c = cells_[i];
  switch (k) {
    case kByte: c = Cell{k, 0, {.i = v.ToByte()}}; return;
    case kInteger: c = Cell{k, 0, {.i = v.ToInt()}}; return;
    case kLong: c = Cell{k, 0, {.i = v.ToLong()}}; return;
    case kLongLong: c = Cell{k, 0, {.i = v.ToLongLong()}}; return;
    case kSingle:
    case kDouble:
    case kCurrency: c = Cell{k, 0, {.d = v.ToDouble()}}; return;
    case kDate: c = Cell{k, 0, {.d = v.ToDate().value}}; return;
    case kText: {
      const std::string& s = *v.StringIf();
      if (s.size() > std::numeric_limits<uint32_t>::max()) Raise(err::kDataOverflow, "ADODB.Field");
      c = Cell{k, static_cast<uint32_t>(s.size()), {.off = arena_.size()}};
      arena_.append(s);
      return;
    }
    case kBytes: {
      std::vector<uint8_t> b = v.ToBytes();
      if (b.size() > std::numeric_limits<uint32_t>::max()) Raise(err::kDataOverflow, "ADODB.Field");
      c = Cell{k, static_cast<uint32_t>(b.size()), {.off = arena_.size()}};
      arena_.append(reinterpret_cast<const char*>(b.data()), b.size());
      return;
    }
    default: c = Cell{k, 0, {.i = 0}}; return;
  }
}

Variant CellStore::Get(size_t i) const {
  const Cell& c = cells_[i];
  switch (c.kind) {
    case kNull: return Variant::Null();
    case kFalse: return Variant(false);
    case kTrue: return Variant(true);
    case kByte: return Variant::Byte(static_cast<uint8_t>(c.u.i));
    case kInteger: return Variant::Integer(static_cast<int16_t>(c.u.i));
    case kLong: return Variant(static_cast<int32_t>(c.u.i));
    case kLongLong: return Variant::LongLong(c.u.i);
    case kSingle: return Variant::Single(static_cast<float>(c.u.d));
    case kDouble: return Variant(c.u.d);
    case kCurrency: return Variant::Currency(c.u.d);
    case kDate: return Variant::FromDate(automation::Date{c.u.d});
    case kText: return Variant(std::string(arena_.data() + c.u.off, c.len));
    case kBytes: {
      auto p = reinterpret_cast<const uint8_t*>(arena_.data() + c.u.off);
      return Variant::Bytes(std::vector<uint8_t>(p, p + c.len));
    }
    default: return Variant();
  }
}

}  // namespace ado

// Engine values <-> Variants, declared types -> field types, parameter binding.
#include <cctype>
#include <cmath>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "automation/text.h"
#include "automation/vbdate.h"
#include "engine.h"

namespace ado::detail {

using automation::Variant;
using automation::VarType;

}  // namespace ado::detail

namespace ado {

std::string QuoteIdentifier(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

}  // namespace ado

namespace ado::detail {

namespace {

// Byte arrays are bound where they lie: the statement keeps their shared buffer
// alive until SQLite lets the value go, so a large file is not copied for its insert.
std::mutex g_heldMutex;
std::unordered_multimap<const void*, std::shared_ptr<const std::vector<uint8_t>>> g_held;

void LetGoOfHeld(void* data) {
  std::lock_guard lock(g_heldMutex);
  if (auto it = g_held.find(data); it != g_held.end()) g_held.erase(it);
}

// A value's bytes as a shared buffer: the value's own when it has one, else a copy of them.
std::shared_ptr<const std::vector<uint8_t>> SharedBytesOf(const automation::Variant& v) {
  if (auto shared = v.SharedBytes()) return shared;
  return std::make_shared<const std::vector<uint8_t>>(v.ToBytes());
}

void BindBytes(sqlite3_stmt* st, int slot, std::shared_ptr<const std::vector<uint8_t>> bytes) {
  if (bytes->empty()) {
    sqlite3_bind_blob64(st, slot, bytes->data(), 0, SQLITE_TRANSIENT);
    return;
  }
  const void* data = bytes->data();
  const size_t size = bytes->size();
  {
    std::lock_guard lock(g_heldMutex);
    g_held.emplace(data, std::move(bytes));
  }
  sqlite3_bind_blob64(st, slot, data, size, &LetGoOfHeld);
}

constexpr int32_t kLongSize = 2147483647;

bool Has(std::string_view upper, std::string_view what) { return upper.find(what) != std::string_view::npos; }

// "(n)" or "(p, s)" of a declared type; "(max)" gives kLongSize.
void DeclaredSize(std::string_view upper, int64_t& first, int64_t& second) {
  first = second = -1;
  size_t open = upper.find('(');
  if (open == std::string_view::npos) return;
  size_t i = open + 1;
  auto skip = [&] {
    while (i < upper.size() && upper[i] == ' ') ++i;
  };
  auto number = [&](int64_t& out) {
    skip();
    if (upper.substr(i, 3) == "MAX") {
      out = kLongSize;
      i += 3;
      return;
    }
    int64_t v = 0;
    bool any = false;
    while (i < upper.size() && std::isdigit(static_cast<unsigned char>(upper[i])) && v < kLongSize) {
      v = v * 10 + (upper[i] - '0');
      ++i;
      any = true;
    }
    if (any) out = std::min<int64_t>(v, kLongSize);
  };
  number(first);
  skip();
  if (i < upper.size() && upper[i] == ',') {
    ++i;
    number(second);
  }
}

int Digit(char c) { return c - '0'; }

bool TwoDigits(std::string_view s, size_t at, int& out) {
  if (at + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[at])) ||
      !std::isdigit(static_cast<unsigned char>(s[at + 1])))
    return false;
  out = Digit(s[at]) * 10 + Digit(s[at + 1]);
  return true;
}

[[noreturn]] void NotAccepted(const FieldInfo& f, std::string why) {
  Raise(err::kMultipleStep, "ADODB.Field",
        ErrorText(err::kMultipleStep) + " (field " + f.name + ": " + std::move(why) + ")");
}

bool IsTextType(int32_t t) {
  return t == adChar || t == adWChar || t == adVarChar || t == adLongVarChar || t == adVarWChar ||
         t == adLongVarWChar || t == adBSTR || t == adGUID;
}

bool IsBinaryType(int32_t t) { return t == adBinary || t == adVarBinary || t == adLongVarBinary; }

}  // namespace

bool ParseDbDate(std::string_view s, automation::Date& out) {
  int y1, y2, mo, d, h = 0, mi = 0, sec = 0, ms = 0;
  if (s.size() >= 10 && TwoDigits(s, 0, y1) && TwoDigits(s, 2, y2) && s[4] == '-' && TwoDigits(s, 5, mo) &&
      s[7] == '-' && TwoDigits(s, 8, d)) {
    size_t i = 10;
    bool ok = true;
    if (i < s.size()) {
      ok = (s[i] == ' ' || s[i] == 'T') && TwoDigits(s, i + 1, h) && i + 3 < s.size() && s[i + 3] == ':' &&
           TwoDigits(s, i + 4, mi);
      i += 6;
      if (ok && i < s.size()) {
        ok = s[i] == ':' && TwoDigits(s, i + 1, sec);
        i += 3;
        if (ok && i < s.size()) {
          ok = s[i] == '.';
          ++i;
          int scale = 100;
          size_t digits = 0;
          while (ok && i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            if (digits < 3) ms += Digit(s[i]) * scale;
            scale /= 10;
            ++digits;
            ++i;
          }
          ok = ok && digits > 0 && i == s.size();
        }
      }
    }
    if (ok) {
      automation::DateParts p{y1 * 100 + y2, mo, d, h, mi, sec, ms};
      if (h < 24 && mi < 60 && sec < 60) {
        if (auto dt = automation::MakeDate(p)) {
          out = *dt;
          return true;
        }
      }
      return false;
    }
  }
  if (auto dt = automation::ParseDate(s)) {
    out = *dt;
    return true;
  }
  return false;
}

namespace {

// Sets what every declared type sets: type, size, decoding, and the fixed-length attribute.
void SetType(FieldInfo& f, int32_t type, int32_t size, Decode decode, bool fixed) {
  f.type = type;
  f.definedSize = size;
  f.decode = decode;
  if (fixed) f.attributes |= adFldFixed;
}

void SetText(FieldInfo& f, const std::string& u, int64_t size) {
  bool wide = u[0] == 'N';
  bool longText = Has(u, "TEXT") || Has(u, "CLOB") || size < 0 || size >= kLongSize;
  if (Has(u, "UNIQUEIDENTIFIER")) {
    SetType(f, adGUID, 16, Decode::Text, true);
  } else if (longText) {
    SetType(f, wide ? adLongVarWChar : adLongVarChar, kLongSize, Decode::Text, false);
    f.attributes |= adFldLong;
  } else {
    bool var = Has(u, "VAR");
    SetType(f, var ? (wide ? adVarWChar : adVarChar) : (wide ? adWChar : adChar), static_cast<int32_t>(size),
            Decode::Text, !var);
    f.sizeEnforced = true;
  }
}

void SetInteger(FieldInfo& f, const std::string& u) {
  if (Has(u, "BIGINT")) {
    SetType(f, adBigInt, 8, Decode::BigInt, true);
    f.precision = 19;
  } else if (Has(u, "SMALLINT")) {
    SetType(f, adSmallInt, 2, Decode::SmallInt, true);
    f.precision = 5;
  } else if (Has(u, "TINYINT")) {
    SetType(f, adUnsignedTinyInt, 1, Decode::Byte, true);
    f.precision = 3;
  } else {
    SetType(f, adInteger, 4, Decode::Long, true);
    f.precision = 10;
  }
}

void SetBinary(FieldInfo& f, const std::string& u, int64_t size) {
  if (Has(u, "BLOB") || Has(u, "IMAGE") || size < 0 || size >= kLongSize) {
    SetType(f, adLongVarBinary, kLongSize, Decode::Binary, false);
    f.attributes |= adFldLong;
  } else {
    SetType(f, Has(u, "VAR") ? adVarBinary : adBinary, static_cast<int32_t>(size), Decode::Binary, false);
    f.sizeEnforced = true;
  }
}

}  // namespace

void ApplyDeclaredType(FieldInfo& f, std::string_view declType) {
  std::string u(declType);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int64_t size, scale;
  DeclaredSize(u, size, scale);
  f.sizeEnforced = false;
  f.precision = 255;
  f.numericScale = 255;
  if (u.empty()) {
    SetType(f, adVarChar, 255, Decode::Any, false);
  } else if (Has(u, "BIT") || Has(u, "BOOL")) {
    SetType(f, adBoolean, 2, Decode::Bool, true);
  } else if (Has(u, "CHAR") || Has(u, "CLOB") || Has(u, "TEXT") || Has(u, "UNIQUEIDENTIFIER")) {
    SetText(f, u, size);
  } else if (Has(u, "DATE") || Has(u, "TIME")) {
    SetType(f, adDBTimeStamp, 16, Decode::Date, true);
    f.precision = 23;
    f.numericScale = 3;
  } else if (Has(u, "INT")) {
    SetInteger(f, u);
  } else if (Has(u, "BLOB") || Has(u, "BINARY") || Has(u, "IMAGE")) {
    SetBinary(f, u, size);
  } else if (Has(u, "MONEY")) {
    SetType(f, adCurrency, 8, Decode::Currency, true);
    f.precision = 19;
  } else if (Has(u, "REAL") || Has(u, "FLOA") || Has(u, "DOUB")) {
    SetType(f, adDouble, 8, Decode::Double, true);
    f.precision = 15;
  } else if (Has(u, "DEC") || Has(u, "NUMERIC")) {
    SetType(f, adNumeric, 19, Decode::Double, true);
    f.precision = size > 0 && size < 256 ? static_cast<uint8_t>(size) : 18;
    f.numericScale = scale >= 0 && scale < 256 ? static_cast<uint8_t>(scale) : 0;
  } else {
    SetType(f, adVarChar, 255, Decode::Any, false);
  }
}

FieldInfo MakeField(const std::string& name, int32_t type, int32_t definedSize, int32_t attributes) {
  FieldInfo f;
  f.name = name;
  f.type = type;
  f.definedSize = definedSize;
  f.attributes = attributes | adFldUpdatable;
  if (!(attributes & adFldIsNullable)) f.attributes |= adFldMayBeNull;
  f.sizeEnforced = (IsTextType(type) || IsBinaryType(type)) && definedSize > 0 && definedSize < kLongSize;
  switch (type) {
    case adInteger: f.decode = Decode::Long; break;
    case adSmallInt: f.decode = Decode::SmallInt; break;
    case adTinyInt:
    case adUnsignedTinyInt: f.decode = Decode::Byte; break;
    case adBigInt: f.decode = Decode::BigInt; break;
    case adBoolean: f.decode = Decode::Bool; break;
    case adSingle: f.decode = Decode::Single; break;
    case adDouble:
    case adNumeric:
    case adDecimal: f.decode = Decode::Double; break;
    case adCurrency: f.decode = Decode::Currency; break;
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: f.decode = Decode::Date; break;
    default:
      f.decode = IsTextType(type) ? Decode::Text : IsBinaryType(type) ? Decode::Binary : Decode::Any;
  }
  return f;
}

void ReadInto(CellStore& out, sqlite3_stmt* st, int col, Decode d) {
  using K = CellStore::Kind;
  int t = sqlite3_column_type(st, col);
  if (t == SQLITE_NULL) return out.PushKind(K::kNull);
  auto text = [&](K k) {
    auto p = k == K::kBytes ? static_cast<const char*>(sqlite3_column_blob(st, col))
                            : reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    out.PushText(k, p ? p : "", static_cast<size_t>(sqlite3_column_bytes(st, col)));
  };
  auto integer = [&](int64_t v) {
    bool small = v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
    out.PushInteger(small ? K::kLong : K::kLongLong, v);
  };
  switch (d) {
    case Decode::Text:
      if (t == SQLITE_TEXT) return text(K::kText);
      break;
    case Decode::Long:
      if (t == SQLITE_INTEGER) return integer(sqlite3_column_int64(st, col));
      break;
    case Decode::Date:
      if (t == SQLITE_TEXT) {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
        std::string_view s(p, static_cast<size_t>(sqlite3_column_bytes(st, col)));
        automation::Date dt;
        if (ParseDbDate(s, dt)) return out.PushReal(K::kDate, dt.value);
        return out.PushText(K::kText, s.data(), s.size());
      }
      break;
    case Decode::Bool:
      if (t == SQLITE_INTEGER) return out.PushKind(sqlite3_column_int64(st, col) != 0 ? K::kTrue : K::kFalse);
      if (t == SQLITE_FLOAT) return out.PushKind(sqlite3_column_double(st, col) != 0 ? K::kTrue : K::kFalse);
      break;
    case Decode::SmallInt:
      if (t == SQLITE_INTEGER) {
        int64_t v = sqlite3_column_int64(st, col);
        if (v >= -32768 && v <= 32767) return out.PushInteger(K::kInteger, v);
        return integer(v);
      }
      break;
    case Decode::Byte:
      if (t == SQLITE_INTEGER) {
        int64_t v = sqlite3_column_int64(st, col);
        if (v >= 0 && v <= 255) return out.PushInteger(K::kByte, v);
        return integer(v);
      }
      break;
    case Decode::BigInt:
      if (t == SQLITE_INTEGER) return out.PushInteger(K::kLongLong, sqlite3_column_int64(st, col));
      break;
    case Decode::Double:
      if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return out.PushReal(K::kDouble, sqlite3_column_double(st, col));
      break;
    case Decode::Single:
      if (t == SQLITE_INTEGER || t == SQLITE_FLOAT)
        return out.PushReal(K::kSingle, static_cast<float>(sqlite3_column_double(st, col)));
      break;
    case Decode::Currency:
      if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return out.PushReal(K::kCurrency, sqlite3_column_double(st, col));
      break;
    case Decode::Binary:
      if (t == SQLITE_BLOB || t == SQLITE_TEXT) return text(K::kBytes);
      break;
    case Decode::Any:
      break;
  }
  // A value of another storage class than the column declares: keep it as it is.
  switch (t) {
    case SQLITE_INTEGER: return integer(sqlite3_column_int64(st, col));
    case SQLITE_FLOAT: return out.PushReal(K::kDouble, sqlite3_column_double(st, col));
    case SQLITE_BLOB: return text(K::kBytes);
    default: return text(K::kText);
  }
}

Variant Coerce(const FieldInfo& f, const Variant& v) {
  if (v.IsNull()) return v;
  if (v.IsMissing()) NotAccepted(f, "no value");
  if (v.IsObject() || (v.IsArray() && !v.IsBytes())) NotAccepted(f, "not a value");
  try {
    if (IsTextType(f.type)) {
      std::string s = v.ToString();
      if (f.sizeEnforced && automation::CharLength(s) > static_cast<size_t>(f.definedSize))
        NotAccepted(f, "longer than " + std::to_string(f.definedSize) + " characters");
      return Variant(std::move(s));
    }
    if (IsBinaryType(f.type)) {
      std::vector<uint8_t> b = v.ToBytes();
      if (f.sizeEnforced && b.size() > static_cast<size_t>(f.definedSize))
        NotAccepted(f, "longer than " + std::to_string(f.definedSize) + " bytes");
      return Variant::Bytes(std::move(b));
    }
    switch (f.type) {
      case adInteger: return Variant(v.ToLong());
      case adSmallInt: return Variant::Integer(v.ToInt());
      case adTinyInt:
      case adUnsignedTinyInt: return Variant::Byte(v.ToByte());
      case adBigInt: return Variant::LongLong(v.ToLongLong());
      case adBoolean: return Variant(v.ToBool());
      case adSingle: return Variant::Single(static_cast<float>(v.ToDouble()));
      case adDouble:
      case adNumeric:
      case adDecimal: return Variant(v.ToDouble());
      case adCurrency: return Variant::Currency(v.ToDouble());
      case adDate:
      case adDBDate:
      case adDBTime:
      case adDBTimeStamp: return Variant::FromDate(v.ToDate());
      default: return v;
    }
  } catch (const automation::ComError& e) {
    if (e.number == err::kMultipleStep) throw;
    NotAccepted(f, e.description);
  }
}

void BindValue(sqlite3_stmt* st, int slot, const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null:
      sqlite3_bind_null(st, slot);
      return;
    case VarType::Boolean: sqlite3_bind_int(st, slot, v.ToBool() ? 1 : 0); return;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong: sqlite3_bind_int64(st, slot, v.ToLongLong()); return;
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency: sqlite3_bind_double(st, slot, v.ToDouble()); return;
    case VarType::Date: {
      std::string s = automation::FormatDbDate(v.ToDate());
      sqlite3_bind_text(st, slot, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      return;
    }
    case VarType::String: {
      const std::string* s = v.StringIf();
      sqlite3_bind_text64(st, slot, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      return;
    }
    case VarType::ByteArray: {
      BindBytes(st, slot, SharedBytesOf(v));
      return;
    }
    default:
      Raise(err::kDataConversion, "ADODB.Parameter");
  }
}

void BindParam(Connection& c, sqlite3_stmt* st, int slot, const Param& p, int position) {
  if (p.direction != adParamInput && p.direction != adParamUnknown)
    Raise(err::kNotSupported, "ADODB.Command", "Only input parameters are supported.");
  const Variant& v = p.value;
  if (v.IsMissing())
    Raise(static_cast<int32_t>(0x80040E10), "ADODB.Command", "No value given for one or more required parameters.");
  if (v.IsNull() || v.IsEmpty()) {
    sqlite3_bind_null(st, slot);
    return;
  }
  auto tooLong = [&](size_t length, const char* unit) {
    ErrorInfo e;
    e.number = err::kDataOverflow;
    e.nativeError = 8152;
    e.source = "ADODB.Command";
    e.sqlState = "22001";
    e.description = "String or binary data would be truncated. (parameter " +
                    (p.name.empty() ? std::to_string(position) : p.name) + ": " + std::to_string(length) +
                    " " + unit + ", declared size " + std::to_string(p.size) + ")";
    c.ErrorList().Add(e);
    Raise(e);
  };
  try {
    if (IsTextType(p.type)) {
      std::string s = v.ToString();
      if (p.size > 0) {
        size_t n = automation::CharLength(s);
        if (n > static_cast<size_t>(p.size)) tooLong(n, "characters");
      }
      sqlite3_bind_text64(st, slot, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      return;
    }
    if (IsBinaryType(p.type)) {
      auto bytes = SharedBytesOf(v);
      if (p.size > 0 && bytes->size() > static_cast<size_t>(p.size)) tooLong(bytes->size(), "bytes");
      BindBytes(st, slot, std::move(bytes));
      return;
    }
    switch (p.type) {
      case adInteger: sqlite3_bind_int64(st, slot, v.ToLong()); return;
      case adSmallInt: sqlite3_bind_int64(st, slot, v.ToInt()); return;
      case adTinyInt:
      case adUnsignedTinyInt: sqlite3_bind_int64(st, slot, v.ToByte()); return;
      case adBigInt: sqlite3_bind_int64(st, slot, v.ToLongLong()); return;
      case adBoolean: sqlite3_bind_int(st, slot, v.ToBool() ? 1 : 0); return;
      case adSingle:
      case adDouble:
      case adCurrency:
      case adNumeric:
      case adDecimal: sqlite3_bind_double(st, slot, v.ToDouble()); return;
      case adDBDate: {
        std::string s = automation::FormatDbDate(automation::DateOnly(v.ToDate()));
        sqlite3_bind_text(st, slot, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return;
      }
      case adDate:
      case adDBTime:
      case adDBTimeStamp: {
        std::string s = automation::FormatDbDate(v.ToDate());
        sqlite3_bind_text(st, slot, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return;
      }
      default: BindValue(st, slot, v); return;
    }
  } catch (const automation::ComError& e) {
    if (e.number == err::kDataOverflow) throw;
    Raise(err::kDataConversion, "ADODB.Parameter",
          ErrorText(err::kDataConversion) + " (parameter " +
              (p.name.empty() ? std::to_string(position) : p.name) + ": " + e.description + ")");
  }
}

}  // namespace ado::detail

namespace ado {

automation::Variant ColumnValue(sqlite3_stmt* st, int col) {
  FieldInfo f;
  const char* decl = sqlite3_column_decltype(st, col);
  detail::ApplyDeclaredType(f, decl ? decl : "");
  CellStore cell;
  detail::ReadInto(cell, st, col, f.decode);
  return cell.Get(0);
}

}  // namespace ado

#include <algorithm>
#include <cmath>
#include <limits>

#include "automation/automation.h"
#include "automation/text.h"
#include "automation/vbdate.h"
#include "automation/vbnumber.h"

namespace automation {

namespace {

template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

[[noreturn]] void Mismatch() { RaiseRuntime(vberr::kTypeMismatch); }

}  // namespace

Variant::Variant() = default;
Variant Variant::Null() {
  Variant v;
  v.v_ = NullTag{};
  return v;
}
Variant Variant::Missing() {
  Variant v;
  v.v_ = MissingTag{};
  return v;
}
Variant::Variant(bool b) : v_(b) {}
Variant::Variant(int32_t n) : v_(n) {}
Variant::Variant(double d) : v_(d) {}
Variant::Variant(const char* s) : v_(std::string(s ? s : "")) {}
Variant::Variant(std::string s) : v_(std::move(s)) {}
Variant::Variant(std::shared_ptr<Object> o) : v_(std::move(o)) {}
Variant::Variant(std::vector<Variant> a)
    : v_(std::make_shared<const std::vector<Variant>>(std::move(a))) {}
Variant Variant::Bytes(std::vector<uint8_t> b) {
  Variant v;
  v.v_ = std::make_shared<const std::vector<uint8_t>>(std::move(b));
  return v;
}
Variant Variant::SharingBytes(std::shared_ptr<const std::vector<uint8_t>> b) {
  Variant v;
  v.v_ = b ? std::move(b) : std::make_shared<const std::vector<uint8_t>>();
  return v;
}
Variant Variant::Integer(int16_t n) {
  Variant v;
  v.v_ = n;
  return v;
}
Variant Variant::Byte(uint8_t n) {
  Variant v;
  v.v_ = n;
  return v;
}
Variant Variant::LongLong(int64_t n) {
  Variant v;
  v.v_ = n;
  return v;
}
Variant Variant::Single(float f) {
  Variant v;
  v.v_ = f;
  return v;
}
Variant Variant::FromDate(Date d) {
  Variant v;
  v.v_ = d;
  return v;
}
Variant Variant::Currency(double d) {
  Variant v;
  v.v_ = CurrencyValue{d};
  return v;
}
Variant Variant::Error(int32_t scode) {
  Variant v;
  v.v_ = ErrorCode{scode};
  return v;
}

VarType Variant::Type() const {
  return std::visit(
      Overload{[](std::monostate) { return VarType::Empty; },
               [](NullTag) { return VarType::Null; },
               [](MissingTag) { return VarType::Error; },
               [](bool) { return VarType::Boolean; },
               [](uint8_t) { return VarType::Byte; },
               [](int16_t) { return VarType::Integer; },
               [](int32_t) { return VarType::Long; },
               [](int64_t) { return VarType::LongLong; },
               [](float) { return VarType::Single; },
               [](double) { return VarType::Double; },
               [](CurrencyValue) { return VarType::Currency; },
               [](Date) { return VarType::Date; },
               [](const std::string&) { return VarType::String; },
               [](const std::shared_ptr<Object>&) { return VarType::Object; },
               [](const Array&) { return VarType::VariantArray; },
               [](const ByteArray&) { return VarType::ByteArray; },
               [](ErrorCode) { return VarType::Error; }},
      v_);
}

bool Variant::IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
bool Variant::IsNull() const { return std::holds_alternative<NullTag>(v_); }
bool Variant::IsMissing() const { return std::holds_alternative<MissingTag>(v_); }
bool Variant::IsObject() const { return std::holds_alternative<std::shared_ptr<Object>>(v_); }
bool Variant::IsNothing() const {
  auto p = std::get_if<std::shared_ptr<Object>>(&v_);
  return p && !*p;
}
bool Variant::IsArray() const {
  return std::holds_alternative<Array>(v_) || std::holds_alternative<ByteArray>(v_);
}
bool Variant::IsBytes() const { return std::holds_alternative<ByteArray>(v_); }
bool Variant::IsString() const { return std::holds_alternative<std::string>(v_); }
bool Variant::IsNumeric() const {
  switch (Type()) {
    case VarType::Empty:
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::LongLong:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
      return true;
    case VarType::String:
      return ParseNumber(std::get<std::string>(v_)).has_value();
    default:
      return false;
  }
}

std::string Variant::ToString() const {
  return std::visit(
      Overload{[](std::monostate) -> std::string { return ""; },
               [](NullTag) -> std::string { Mismatch(); },
               [](MissingTag) -> std::string { Mismatch(); },
               [](bool b) -> std::string { return b ? "True" : "False"; },
               [](uint8_t n) { return std::to_string(n); },
               [](int16_t n) { return std::to_string(n); },
               [](int32_t n) { return std::to_string(n); },
               [](int64_t n) { return std::to_string(n); },
               [](float f) { return FormatSingle(f); },
               [](double d) { return FormatDouble(d); },
               [](CurrencyValue c) { return FormatDouble(c.value); },
               [](Date d) { return FormatDate(d); },
               [](const std::string& s) { return s; },
               [](const std::shared_ptr<Object>&) -> std::string { Mismatch(); },
               [](const Array&) -> std::string { Mismatch(); },
               [](const ByteArray& b) { return std::string(b->begin(), b->end()); },
               [](ErrorCode) -> std::string { Mismatch(); }},
      v_);
}

std::string Variant::ToText() const { return IsNull() ? std::string() : ToString(); }

double Variant::ToDouble() const {
  return std::visit(
      Overload{[](std::monostate) { return 0.0; },
               [](NullTag) -> double { RaiseRuntime(vberr::kInvalidNull); },
               [](MissingTag) -> double { Mismatch(); },
               [](bool b) { return b ? -1.0 : 0.0; },
               [](uint8_t n) { return static_cast<double>(n); },
               [](int16_t n) { return static_cast<double>(n); },
               [](int32_t n) { return static_cast<double>(n); },
               [](int64_t n) { return static_cast<double>(n); },
               [](float f) { return static_cast<double>(f); },
               [](double d) { return d; },
               [](CurrencyValue c) { return c.value; },
               [](Date d) { return d.value; },
               [](const std::string& s) -> double {
                 if (auto n = ParseNumber(s)) return *n;
                 if (auto d = ParseDate(s)) return d->value;
                 Mismatch();
               },
               [](const std::shared_ptr<Object>&) -> double { Mismatch(); },
               [](const Array&) -> double { Mismatch(); },
               [](const ByteArray&) -> double { Mismatch(); },
               [](ErrorCode) -> double { Mismatch(); }},
      v_);
}

namespace {

template <class T>
T RoundToIntegral(double d) {
  if (std::isnan(d)) RaiseRuntime(vberr::kOverflow);
  double r = RoundHalfEven(d);
  if (r < static_cast<double>(std::numeric_limits<T>::min()) ||
      r > static_cast<double>(std::numeric_limits<T>::max()))
    RaiseRuntime(vberr::kOverflow);
  return static_cast<T>(r);
}

}  // namespace

int32_t Variant::ToLong() const {
  if (auto p = std::get_if<int32_t>(&v_)) return *p;
  if (auto p = std::get_if<int16_t>(&v_)) return *p;
  if (auto p = std::get_if<int64_t>(&v_)) {
    if (*p < std::numeric_limits<int32_t>::min() || *p > std::numeric_limits<int32_t>::max())
      RaiseRuntime(vberr::kOverflow);
    return static_cast<int32_t>(*p);
  }
  return RoundToIntegral<int32_t>(ToDouble());
}

int16_t Variant::ToInt() const {
  if (auto p = std::get_if<int16_t>(&v_)) return *p;
  return RoundToIntegral<int16_t>(ToDouble());
}

int64_t Variant::ToLongLong() const {
  if (auto p = std::get_if<int64_t>(&v_)) return *p;
  if (auto p = std::get_if<int32_t>(&v_)) return *p;
  double d = ToDouble();
  if (std::isnan(d) || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18)
    RaiseRuntime(vberr::kOverflow);
  return static_cast<int64_t>(RoundHalfEven(d));
}

uint8_t Variant::ToByte() const { return RoundToIntegral<uint8_t>(ToDouble()); }

bool Variant::ToBool() const {
  if (auto p = std::get_if<bool>(&v_)) return *p;
  if (auto s = std::get_if<std::string>(&v_)) {
    std::string_view t = *s;
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (EqualsNoCase(t, "True")) return true;
    if (EqualsNoCase(t, "False")) return false;
    if (auto n = ParseNumber(t)) return *n != 0;
    Mismatch();
  }
  return ToDouble() != 0;
}

Date Variant::ToDate() const {
  if (auto p = std::get_if<Date>(&v_)) return *p;
  if (auto s = std::get_if<std::string>(&v_)) {
    if (auto d = ParseDate(*s)) return *d;
    if (auto n = ParseNumber(*s)) return Date{*n};
    Mismatch();
  }
  double d = ToDouble();
  if (d < -657434.0 || d >= 2958466.0) RaiseRuntime(vberr::kOverflow);
  return Date{d};
}

std::shared_ptr<Object> Variant::ToObject() const {
  if (auto p = std::get_if<std::shared_ptr<Object>>(&v_)) return *p;
  RaiseRuntime(vberr::kObjectRequired);
}

const std::vector<Variant>& Variant::ToArray() const {
  if (auto p = std::get_if<Array>(&v_)) return **p;
  Mismatch();
}

std::shared_ptr<const std::vector<uint8_t>> Variant::SharedBytes() const {
  if (auto p = std::get_if<ByteArray>(&v_)) return *p;
  return nullptr;
}

std::vector<uint8_t> Variant::ToBytes() const {
  if (auto p = std::get_if<ByteArray>(&v_)) return **p;
  if (auto s = std::get_if<std::string>(&v_)) return std::vector<uint8_t>(s->begin(), s->end());
  if (IsEmpty()) return {};
  if (auto a = std::get_if<Array>(&v_)) {
    std::vector<uint8_t> out;
    out.reserve((*a)->size());
    for (const Variant& e : **a) out.push_back(e.ToByte());
    return out;
  }
  Mismatch();
}

int Variant::Compare(const Variant& a, const Variant& b, bool noCase) {
  auto sa = std::get_if<std::string>(&a.v_);
  auto sb = std::get_if<std::string>(&b.v_);
  if (sa && sb) {
    if (!noCase) return sa->compare(*sb) < 0 ? -1 : (*sa == *sb ? 0 : 1);
    size_t n = std::min(sa->size(), sb->size());
    for (size_t i = 0; i < n; ++i) {
      int x = std::tolower(static_cast<unsigned char>((*sa)[i]));
      int y = std::tolower(static_cast<unsigned char>((*sb)[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return sa->size() == sb->size() ? 0 : (sa->size() < sb->size() ? -1 : 1);
  }
  if (a.IsEmpty() && b.IsEmpty()) return 0;
  if ((sa && b.IsEmpty()) || (sb && a.IsEmpty())) {
    const std::string& s = sa ? *sa : *sb;
    int c = s.empty() ? 0 : 1;
    return sa ? c : -c;
  }
  double x = a.ToDouble(), y = b.ToDouble();
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool Variant::operator==(const Variant& other) const {
  if (v_.index() == other.v_.index()) {
    if (auto a = std::get_if<Array>(&v_)) return **a == *std::get<Array>(other.v_);
    if (auto a = std::get_if<ByteArray>(&v_)) return **a == *std::get<ByteArray>(other.v_);
    return v_ == other.v_;
  }
  if (IsNumeric() && other.IsNumeric() && !IsString() && !other.IsString() && !IsEmpty() &&
      !other.IsEmpty())
    return ToDouble() == other.ToDouble();
  return false;
}

}  // namespace automation

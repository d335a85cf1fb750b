// Late-bound automation: values (Variant), errors (ComError), objects callable by member name
// (Object) and creation by ProgID (CreateObject). The pages, the sender and the site host reach
// every class of the library through this header.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace automation {

class Object;
class ClassInfo;

// The VB type codes (VarType); arrays add kArray.
enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Object = 9,
  Error = 10,
  Boolean = 11,
  Variant = 12,
  Byte = 17,
  LongLong = 20,
  Array = 0x2000,
  VariantArray = 0x200C,
  ByteArray = 0x2011,
};

// A date as the automation layer keeps it: days since 30 December 1899, the fraction being the
// time of day (the OLE date). See vbdate.h for conversions.
struct Date {
  double value = 0;
  friend bool operator==(const Date&, const Date&) = default;
};

class Variant {
 public:
  Variant();  // Empty
  static Variant Null();
  // An omitted optional argument: a member called with it takes the argument's default.
  static Variant Missing();
  Variant(bool b);
  Variant(int32_t n);
  Variant(double d);
  Variant(const char* s);
  Variant(std::string s);
  Variant(std::shared_ptr<Object> o);  // nullptr = Nothing
  Variant(std::vector<Variant> a);     // array, lower bound 0
  static Variant Bytes(std::vector<uint8_t> b);
  // A byte array over a buffer the caller shares, without a copy; nullptr gives an empty array.
  static Variant SharingBytes(std::shared_ptr<const std::vector<uint8_t>> b);

  // Narrower and wider types, for the values recordsets and callers need.
  static Variant Integer(int16_t n);
  static Variant Byte(uint8_t n);
  static Variant LongLong(int64_t n);
  static Variant Single(float f);
  static Variant FromDate(Date d);
  static Variant Currency(double d);
  static Variant Error(int32_t scode);
  template <class T>
    requires std::is_base_of_v<Object, T>
  Variant(std::shared_ptr<T> o) : Variant(std::shared_ptr<Object>(std::move(o))) {}

  VarType Type() const;
  bool IsEmpty() const;
  bool IsNull() const;
  bool IsMissing() const;
  bool IsObject() const;   // an object reference, Nothing included
  bool IsNothing() const;  // an object reference that is Nothing
  bool IsArray() const;    // a Variant array or a byte array
  bool IsBytes() const;
  bool IsNumeric() const;  // VB IsNumeric
  bool IsString() const;

  std::string ToString() const;  // CStr; raises 13 for Null, arrays, objects
  std::string ToText() const;    // CStr, with Null read as "" (VB's v & "")
  int32_t ToLong() const;        // CLng: banker's rounding; 13 type mismatch, 6 overflow, 94 Null
  int16_t ToInt() const;         // CInt
  int64_t ToLongLong() const;    // CLngLng
  double ToDouble() const;       // CDbl
  bool ToBool() const;           // CBool
  Date ToDate() const;           // CDate
  uint8_t ToByte() const;        // CByte
  std::shared_ptr<Object> ToObject() const;  // 424 when the value is not an object
  const std::vector<Variant>& ToArray() const;  // 13 when not a Variant array
  std::vector<uint8_t> ToBytes() const;  // a byte array; a String gives its bytes

  // Direct access to the stored value of each type (no conversion); nullptr when of another type.
  const std::string* StringIf() const { return std::get_if<std::string>(&v_); }
  // A byte array's buffer itself, shared with this value, so a large array is kept or read
  // without a copy; nullptr for any other type. The buffer is never changed in place.
  std::shared_ptr<const std::vector<uint8_t>> SharedBytes() const;

  // VB's "=" between two values: numbers numerically, text by text (case-sensitive unless
  // noCase), dates by value; Null compared with anything is not equal.
  static int Compare(const Variant& a, const Variant& b, bool noCase = false);
  bool operator==(const Variant& other) const;  // same type family and equal value

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct MissingTag {
    bool operator==(const MissingTag&) const = default;
  };
  struct ErrorCode {
    int32_t scode;
    bool operator==(const ErrorCode&) const = default;
  };
  struct CurrencyValue {
    double value;
    bool operator==(const CurrencyValue&) const = default;
  };
  using Array = std::shared_ptr<const std::vector<Variant>>;
  using ByteArray = std::shared_ptr<const std::vector<uint8_t>>;
  std::variant<std::monostate, NullTag, MissingTag, bool, uint8_t, int16_t, int32_t, int64_t, float,
               double, CurrencyValue, Date, std::string, std::shared_ptr<Object>, Array, ByteArray,
               ErrorCode>
      v_;
};

// A COM error as the caller sees it.
struct ComError : std::exception {
  int32_t number = 0;
  std::string source;
  std::string description;
  int32_t line = 0;  // line of the failing statement where known, else 0

  ComError() = default;
  ComError(int32_t n, std::string src, std::string desc, int32_t ln = 0)
      : number(n), source(std::move(src)), description(std::move(desc)), line(ln) {}
  const char* what() const noexcept override;
};

// Run-time error numbers the library raises.
namespace vberr {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscript = 9;
inline constexpr int32_t kDivisionByZero = 11;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kInvalidNull = 94;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kNoSuchMember = 438;
inline constexpr int32_t kArgumentNotOptional = 449;
inline constexpr int32_t kWrongArgumentCount = 450;
inline constexpr int32_t kDuplicateKey = 457;
inline constexpr int32_t kCannotCreate = static_cast<int32_t>(0x800401F3);  // invalid class string
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
}  // namespace vberr

// The run-time's own description of an error number ("Type mismatch" for 13).
std::string RuntimeErrorText(int32_t number);
// Raises a run-time error with the run-time's description (or the one given).
[[noreturn]] void RaiseRuntime(int32_t number, std::string description = {});
// Raises an error with everything given.
[[noreturn]] void RaiseError(int32_t number, std::string source, std::string description);

// The error last raised on this thread, as VB's Err object keeps it: set when an error leaves a
// procedure through the error protocol or crosses the by-name interface.
struct LastError {
  int32_t number = 0;
  std::string source;
  std::string description;
  int32_t line = 0;
};
LastError& Err();
void SetErr(const ComError& e);
void ClearErr();

class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object();

  Variant Get(std::string_view property, std::vector<Variant> args = {});  // property get
  void Put(std::string_view property, Variant value);                       // property let
  void PutRef(std::string_view property, Variant object);                   // property set
  // Method call; missing trailing optional arguments take their defaults. A by-reference argument
  // is written back into the caller's vector when the caller passes one it owns.
  Variant Call(std::string_view method, std::vector<Variant>& args);
  Variant Call(std::string_view method, const std::vector<Variant>& args);
  Variant Call(std::string_view method, std::vector<Variant>&& args = {});

  // The class's member table; every dispatchable class returns its own.
  virtual const ClassInfo& Class() const = 0;
  // Name of the class for messages ("Database").
  std::string_view ClassName() const;
};

std::shared_ptr<Object> CreateObject(std::string_view progId);  // unknown ProgID: 0x800401F3

}  // namespace automation

#include "automation/dispatch.h"  // NOLINT(misc-header-include-cycle): binder templates

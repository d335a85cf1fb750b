#include <gtest/gtest.h>

#include "automation/automation.h"
#include "support/com_error.h"
#include "automation/text.h"
#include "automation/vbdate.h"

using automation::ComError;
using automation::Variant;

namespace {

using testsupport::ErrorNumber;

TEST(VariantConversions, CStrFollowsVbRules) {
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(false).ToString(), "False");
  EXPECT_EQ(Variant(-42).ToString(), "-42");
  EXPECT_EQ(Variant(0.1).ToString(), "0.1");
  EXPECT_EQ(Variant(2.5).ToString(), "2.5");
  EXPECT_EQ(Variant(1e20).ToString(), "1E+20");
  EXPECT_EQ(Variant(1.5e-5).ToString(), "1.5E-05");
  EXPECT_EQ(Variant(123456789012345678.0).ToString(), "1.23456789012346E+17");
  EXPECT_EQ(Variant::Single(0.1f).ToString(), "0.1");
  EXPECT_EQ(Variant().ToString(), "");
  auto d = automation::MakeDate({2024, 2, 1, 13, 5, 9, 0});
  EXPECT_EQ(Variant::FromDate(*d).ToString(), "2/1/2024 1:05:09 PM");
  EXPECT_EQ(Variant::FromDate(*automation::MakeDate({2024, 12, 31})).ToString(), "12/31/2024");
  EXPECT_EQ(ErrorNumber([] { (void)Variant::Null().ToString(); }), 13);
  EXPECT_EQ(ErrorNumber([] { (void)Variant(std::vector<Variant>{1}).ToString(); }), 13);
  EXPECT_EQ(ErrorNumber([] { (void)Variant(std::shared_ptr<automation::Object>()).ToString(); }), 13);
}

TEST(VariantConversions, CLngRoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(Variant(2.5).ToLong(), 2);
  EXPECT_EQ(Variant(3.5).ToLong(), 4);
  EXPECT_EQ(Variant(-2.5).ToLong(), -2);
  EXPECT_EQ(Variant("4.5").ToLong(), 4);
  EXPECT_EQ(Variant(" 42 ").ToLong(), 42);
  EXPECT_EQ(Variant("1,000").ToLong(), 1000);
  EXPECT_EQ(Variant("&H10").ToLong(), 16);
  EXPECT_EQ(Variant("1e3").ToLong(), 1000);
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_EQ(Variant().ToLong(), 0);
  EXPECT_EQ(Variant("2147483647").ToLong(), 2147483647);
  EXPECT_EQ(ErrorNumber([] { (void)Variant("2147483648").ToLong(); }), 6);
  EXPECT_EQ(ErrorNumber([] { (void)Variant(2147483647.5).ToLong(); }), 6);
  EXPECT_EQ(ErrorNumber([] { (void)Variant("abc").ToLong(); }), 13);
  EXPECT_EQ(ErrorNumber([] { (void)Variant("").ToLong(); }), 13);
  EXPECT_EQ(ErrorNumber([] { (void)Variant("12abc").ToLong(); }), 13);
  EXPECT_EQ(ErrorNumber([] { (void)Variant::Null().ToLong(); }), 94);
  EXPECT_EQ(Variant(32767).ToInt(), 32767);
  EXPECT_EQ(ErrorNumber([] { (void)Variant(40000).ToInt(); }), 6);
}

TEST(VariantConversions, CBoolAndBytes) {
  EXPECT_TRUE(Variant("true").ToBool());
  EXPECT_FALSE(Variant(" False ").ToBool());
  EXPECT_TRUE(Variant("-1").ToBool());
  EXPECT_FALSE(Variant("0").ToBool());
  EXPECT_EQ(ErrorNumber([] { (void)Variant("yes").ToBool(); }), 13);
  std::vector<uint8_t> b{0, 10, 255};
  EXPECT_EQ(Variant::Bytes(b).ToBytes(), b);
  EXPECT_EQ(Variant("AB").ToBytes(), (std::vector<uint8_t>{'A', 'B'}));
  EXPECT_TRUE(Variant::Bytes(b).IsArray());
  EXPECT_EQ(Variant::Bytes(b).Type(), automation::VarType::ByteArray);
}

TEST(VariantConversions, AByteArraySharesItsBufferWithoutACopy) {
  const Variant v = Variant::Bytes({0, 10, 255});
  const auto buffer = v.SharedBytes();
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer.use_count(), 2);  // the value and this handle
  const Variant copy = v;
  const Variant over = Variant::SharingBytes(buffer);
  EXPECT_EQ(copy.SharedBytes(), buffer);
  EXPECT_EQ(over.SharedBytes(), buffer);
  EXPECT_EQ(over.Type(), automation::VarType::ByteArray);
  EXPECT_EQ(over.ToBytes(), (std::vector<uint8_t>{0, 10, 255}));
  EXPECT_EQ(Variant::SharingBytes(nullptr).ToBytes(), std::vector<uint8_t>{});
  // Text, even though it converts to bytes, and arrays of numbers have no byte buffer to share.
  for (const Variant& other : {Variant("AB"), Variant(), Variant(std::vector<Variant>{Variant(1)})})
    EXPECT_FALSE(other.SharedBytes()) << static_cast<int>(other.Type());
}

TEST(VariantConversions, CompareIsNumericForNumbersAndTextForText) {
  EXPECT_EQ(Variant::Compare(Variant(2), Variant(10.0)), -1);
  EXPECT_EQ(Variant::Compare(Variant("abc"), Variant("ABC")), 1);
  EXPECT_EQ(Variant::Compare(Variant("abc"), Variant("ABC"), true), 0);
  EXPECT_TRUE(Variant(3) == Variant(3.0));
  EXPECT_FALSE(Variant("3") == Variant(3));
}

// A class bound with the one-line binder, to exercise dispatch.
class Probe : public automation::Dispatchable<Probe> {
 public:
  std::string Greet(const std::string& who, int32_t times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += "hi " + who + ";";
    return s;
  }
  void Twice(int32_t& n, std::string& s) {
    n *= 2;
    s += s;
  }
  int32_t Value() const { return value_; }
  void SetValue(int32_t v) { value_ = v; }
  std::shared_ptr<Probe> Child() {
    if (!child_) child_ = std::make_shared<Probe>();
    return child_;
  }
  std::string Item(const std::string& key) { return "item:" + key; }

 private:
  int32_t value_ = 7;
  std::shared_ptr<Probe> child_;
};

int32_t AddToValue(Probe& p, int32_t n) { return p.Value() + n; }

automation::Register<Probe> probeReg("Probe", "Test.Probe", [](auto& c) {
  c.Method("Greet", &Probe::Greet, {Variant(1)});
  c.Method("Twice", &Probe::Twice);
  c.Property("Value", &Probe::Value, &Probe::SetValue);
  c.Property("Child", &Probe::Child);
  c.Property("Item", &Probe::Item);
  c.Default("Item");
  c.Method("AddToValue", &AddToValue);
});

TEST(Dispatch, MembersAreFoundWithoutRegardToCaseAndTakeDefaults) {
  auto o = automation::CreateObject("test.PROBE");
  EXPECT_EQ(o->Call("GREET", {Variant("bo")}).ToString(), "hi bo;");
  EXPECT_EQ(o->Call("greet", {Variant("bo"), Variant("2")}).ToString(), "hi bo;hi bo;");
  EXPECT_EQ(o->Call("Greet", {Variant("x"), Variant::Missing()}).ToString(), "hi x;");
  EXPECT_EQ(o->Get("value").ToLong(), 7);
  o->Put("Value", Variant("12"));
  EXPECT_EQ(o->Get("Value").ToLong(), 12);
  EXPECT_EQ(o->Call("AddToValue", {Variant(3)}).ToLong(), 15);
  EXPECT_EQ(o->ClassName(), "Probe");
}

TEST(Dispatch, ByReferenceArgumentsAreWrittenBack) {
  auto o = automation::CreateObject("Test.Probe");
  std::vector<Variant> args{Variant(21), Variant("ab")};
  o->Call("Twice", args);
  EXPECT_EQ(args[0].ToLong(), 42);
  EXPECT_EQ(args[1].ToString(), "abab");
}

TEST(Dispatch, ArgumentsOfAnObjectPropertyGoToItsDefaultMember) {
  auto o = automation::CreateObject("Test.Probe");
  EXPECT_EQ(o->Get("Child", {Variant("k")}).ToString(), "item:k");
  EXPECT_EQ(o->Get("", {Variant("z")}).ToString(), "item:z");
}

TEST(Dispatch, ErrorsHaveTheRunTimeNumbers) {
  auto o = automation::CreateObject("Test.Probe");
  EXPECT_EQ(ErrorNumber([&] { o->Call("Nope"); }), 438);
  EXPECT_EQ(ErrorNumber([&] { o->Call("Greet"); }), 450);
  EXPECT_EQ(ErrorNumber([&] { o->Call("Greet", {Variant("a"), Variant(1), Variant(2)}); }), 450);
  EXPECT_EQ(ErrorNumber([&] { o->Call("Greet", {Variant("a"), Variant("many")}); }), 13);
  EXPECT_EQ(automation::Err().number, 13);  // the error is recorded as Err sees it
}

TEST(Dispatch, UnknownProgIdIsInvalidClassString) {
  EXPECT_EQ(ErrorNumber([] { automation::CreateObject("Brisquel.NoSuchClass"); }),
            static_cast<int32_t>(0x800401F3));
}

TEST(Dispatch, LibraryClassesAreCreatableByName) {
  auto m = automation::CreateObject("Brisquel.UnexpectedErrorManager");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->ClassName(), "UnexpectedErrorManager");
  auto t = automation::CreateObject("Brisquel.VTLLogging");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->ClassName(), "VTLLogging");
}

// The text helpers every layer shares: characters, not bytes; ASCII case only; blanks at the ends.
TEST(TextHelpers, CountCutCompareAndTrim) {
  const std::string e = "\xC3\xA9";  // one character, two bytes
  struct Case {
    std::string text;
    size_t chars;
    std::string head2, tail2;
  };
  const std::vector<Case> cases = {
      {"", 0, "", ""},
      {"abc", 3, "ab", "bc"},
      {e + e + e, 3, e + e, e + e},
      {"a" + e + "b", 3, "a" + e, e + "b"},
      {"\xE2\x82\xAC" + e, 2, "\xE2\x82\xAC" + e, "\xE2\x82\xAC" + e},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(automation::CharLength(c.text), c.chars) << c.text;
    EXPECT_EQ(automation::HeadChars(c.text, 2), c.head2) << c.text;
    EXPECT_EQ(automation::TailChars(c.text, 2), c.tail2) << c.text;
  }
  EXPECT_TRUE(automation::EqualsNoCase("UserId", "USERID"));
  EXPECT_FALSE(automation::EqualsNoCase("UserId", "UserIds"));
  EXPECT_FALSE(automation::EqualsNoCase(e, "\xC3\x89"));  // not folded: outside ASCII
  EXPECT_EQ(automation::TrimBlanks(" \t a b \r\n"), "a b");
  EXPECT_EQ(automation::TrimBlanks(" \t\r\n"), "");
}

}  // namespace

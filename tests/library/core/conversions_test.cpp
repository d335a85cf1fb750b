#include <gtest/gtest.h>

#include <random>

#include "automation/vbdate.h"
#include "core/conversions.h"
#include "support/com_error.h"

using automation::ComError;

namespace {

using testsupport::ErrorNumber;

TEST(Conversions, CnvToLong) {
  int32_t v = 0;
  EXPECT_TRUE(brisquel::CnvToLong(" 42 ", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(brisquel::CnvToLong("4.5", v));
  EXPECT_EQ(v, 4);
  EXPECT_TRUE(brisquel::CnvToLong("5.5", v));
  EXPECT_EQ(v, 6);
  EXPECT_TRUE(brisquel::CnvToLong("-1", v));
  EXPECT_EQ(v, -1);
  v = 9;
  EXPECT_FALSE(brisquel::CnvToLong("", v));
  EXPECT_EQ(v, -1);
  v = 9;
  EXPECT_FALSE(brisquel::CnvToLong("2147483648", v));
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(brisquel::CnvToLong("12 monkeys", v));
}

TEST(Conversions, CnvToInt) {
  int16_t v = 0;
  EXPECT_FALSE(brisquel::CnvToInt("40000", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(brisquel::CnvToInt("-32768", v));
  EXPECT_EQ(v, -32768);
  EXPECT_TRUE(brisquel::CnvToInt("2.5", v));
  EXPECT_EQ(v, 2);
}

TEST(Conversions, CnvToDate) {
  EXPECT_EQ(brisquel::CnvToDate(2024, 2, 1), *automation::MakeDate({2024, 2, 1}));
  EXPECT_EQ(brisquel::CnvToDate(2024, 2, 29), *automation::MakeDate({2024, 2, 29}));
  EXPECT_NE(ErrorNumber([] { brisquel::CnvToDate(2024, 2, 30); }), 0);
  EXPECT_NE(ErrorNumber([] { brisquel::CnvToDate(2023, 2, 29); }), 0);
  EXPECT_EQ(ErrorNumber([] { brisquel::CnvToDate(2024, 0, 1); }), 5);
  EXPECT_NE(ErrorNumber([] { brisquel::CnvToDate(2024, 13, 1); }), 0);
}

TEST(Conversions, UrlDecode) {
  EXPECT_EQ(brisquel::UrlDecode("a+b%2Cc"), "a b,c");
  EXPECT_EQ(brisquel::UrlDecode("a+b%2cc"), "a b,c");  // lower-case digits decode too
  EXPECT_EQ(brisquel::UrlDecode("100%25"), "100%");
  EXPECT_EQ(brisquel::UrlDecode("%2541"), "%41");  // a decoded character is not decoded again
  EXPECT_EQ(brisquel::UrlDecode("caf%C3%A9"), "caf\xC3\xA9");
  EXPECT_EQ(brisquel::UrlDecode(""), "");
  EXPECT_EQ(ErrorNumber([] { brisquel::UrlDecode("abc%4"); }), 5);
  EXPECT_EQ(ErrorNumber([] { brisquel::UrlDecode("%"); }), 5);
  EXPECT_EQ(ErrorNumber([] { brisquel::UrlDecode("%zz"); }), 5);
  EXPECT_EQ(brisquel::FromHex("4a"), "J");
  EXPECT_EQ(brisquel::FromHex("FF"), "\xFF");
}

// The keys of posted lists: decoded as UrlDecode does, or nothing for what no page writes.
TEST(Conversions, UrlDecodedAndDecimalIdTakeOnlyWellFormedKeys) {
  for (const auto& [posted, key] : std::vector<std::pair<std::string, std::string>>{
           {"a+b%2Cc", "a b,c"}, {"x%2520y", "x%20y"}, {"caf%c3%a9", "caf\xC3\xA9"}, {"", ""}})
    EXPECT_EQ(brisquel::UrlDecoded(posted), key) << posted;
  for (const char* bad : {"abc%4", "%", "%zz", "%FF", "caf%C3", "%C0%AF", "%ED%A0%80", "a%00b"})
    EXPECT_EQ(brisquel::UrlDecoded(bad), std::nullopt) << bad;
  EXPECT_EQ(brisquel::DecimalId("0042"), 42);
  EXPECT_EQ(brisquel::DecimalId("2147483647"), 2147483647);
  for (const char* bad : {"", "2147483648", "99999999999", "-1", "+1", " 1", "1.5", "1e3", "abc"})
    EXPECT_EQ(brisquel::DecimalId(bad), std::nullopt) << bad;
}

TEST(Conversions, EncodeByteArrayEscapes) {
  EXPECT_EQ(brisquel::EncodeByteArray({10, 31, 128, 127, 'A', 0, 255}), "\\0A\\1F\\80\x7F" "A\\00\\FF");
  EXPECT_EQ(brisquel::EncodeByteArray({'"', '\'', '<', '>', '\\', '&', ' '}), "\\22\\27\\3C\\3E\\5C\\26 ");
  EXPECT_EQ(brisquel::EncodeByteArray({}), "");
}

TEST(Conversions, DecodeByteArrayRefusesBrokenEscapes) {
  EXPECT_EQ(brisquel::DecodeByteArray("\\0A\\1fx"), (std::vector<uint8_t>{10, 31, 'x'}));
  EXPECT_EQ(ErrorNumber([] { brisquel::DecodeByteArray("ab\\4"); }), 5);
  EXPECT_EQ(ErrorNumber([] { brisquel::DecodeByteArray("ab\\"); }), 5);
  EXPECT_EQ(ErrorNumber([] { brisquel::DecodeByteArray("\\G0"); }), 5);
  EXPECT_EQ(ErrorNumber([] { brisquel::DecodeByteArray("\\ 1"); }), 5);
}

TEST(Conversions, ByteArrayRoundTripsForRandomArrays) {
  std::mt19937 rng(20261208);
  for (int n = 0; n < 300; ++n) {
    std::vector<uint8_t> b(rng() % 700);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    std::string text = brisquel::EncodeByteArray(b);
    EXPECT_EQ(text.find_first_of("\"'<>&"), std::string::npos);
    ASSERT_EQ(brisquel::DecodeByteArray(text), b);
  }
}

}  // namespace

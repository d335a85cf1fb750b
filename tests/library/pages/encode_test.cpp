// The encoders, one per context a value is written into.
#include "brisquel/encode.h"

#include <gtest/gtest.h>

namespace {

using namespace brisquel::encode;

TEST(EncodeTest, HtmlAttributeAlsoEncodesTheApostrophe) {
  EXPECT_EQ(HtmlAttribute("it's \"a\" <b>&"), "it&#39;s &quot;a&quot; &lt;b&gt;&amp;");
  EXPECT_EQ(HtmlText("it's"), "it's");
}

TEST(EncodeTest, ScriptStringEscapesWhatCouldEndTheStringOrTheBlock) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a\\b'c\"d", "a\\\\b\\'c\\\"d"},
      {"l1\r\nl2", "l1\\r\\nl2"},
      {"</script>", "\\x3C/script>"},
      {"\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\xa6", "\\u2028|\\u2029|\xe2\x80\xa6"},
      {std::string("\0\t", 2), "\\x00\\x09"},
  };
  for (const auto& c : cases) EXPECT_EQ(ScriptString(c.in), c.out) << c.in;
}

TEST(EncodeTest, UrlComponentKeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(UrlComponent("Assigned to bob&x=1/\xc3\xa9-_.~"), "Assigned%20to%20bob%26x%3D1%2F%C3%A9-_.~");
}

TEST(EncodeTest, ScriptIdentifiers) {
  for (const char* ok : {"f", "_x1", "$", "FillModules"}) EXPECT_TRUE(IsScriptIdentifier(ok)) << ok;
  for (const char* bad : {"", "1a", "a-b", "a.b", "\xc3\xa9"}) EXPECT_FALSE(IsScriptIdentifier(bad)) << bad;
}

TEST(EncodeTest, DecodingWhatWasEncodedGivesTheText) {
  const std::string text = "caf\xc3\xa9 \"<x>\" [1]{2}|^`\\ \xf0\x9f\x98\x80";
  EXPECT_EQ(DecodeUrlEscapes(CanonicalUrl(text)), text);
  EXPECT_EQ(DecodeUrlEscapes(UrlComponent(text)), text);
  // An escape that is part of no UTF-8 sequence stays as it was.
  EXPECT_EQ(DecodeUrlEscapes("%FF%E2%82"), "%FF%E2%82");
  EXPECT_EQ(DecodeUrlEscapes("%e2%82%ac"), "\xe2\x82\xac");
}

}  // namespace

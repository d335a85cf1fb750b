#include <gtest/gtest.h>

#include "gdi/record_dc.h"
#include "gdi/text_layout.h"

namespace gdi {
namespace {

TextLayout Layout(std::string_view text, Rect r, unsigned format) {
  return LayoutText(text, r, format, RecordDc::MeasureText, RecordDc::kLineHeight);
}

TEST(TextLayout, SingleLineAlignments) {
  struct Case {
    unsigned format;
    TextLine expected;
  } cases[] = {
      {dt::kSingleLine, {10, 20, "abc"}},
      {dt::kSingleLine | dt::kCenter, {10 + (100 - 21) / 2, 20, "abc"}},
      {dt::kSingleLine | dt::kRight, {110 - 21, 20, "abc"}},
      {dt::kSingleLine | dt::kVCenter, {10, 20 + (40 - 13) / 2, "abc"}},
      {dt::kSingleLine | dt::kBottom | dt::kRight, {89, 60 - 13, "abc"}},
  };
  for (const Case& c : cases) {
    TextLayout l = Layout("abc", {10, 20, 110, 60}, c.format);
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_EQ(l.lines[0], c.expected) << std::hex << c.format;
    EXPECT_TRUE(l.clipped);
  }
}

TEST(TextLayout, EndEllipsisShortensToFit) {
  TextLayout l = Layout("Resolution", {0, 0, 50, 13}, dt::kSingleLine | dt::kEndEllipsis);
  EXPECT_EQ(l.lines[0].text, "Reso...");  // 7 characters of 7 pixels in 50
  EXPECT_EQ(Layout("Open", {0, 0, 50, 13}, dt::kSingleLine | dt::kEndEllipsis).lines[0].text, "Open");
  EXPECT_EQ(Layout("\u00e9t\u00e9 long", {0, 0, 35, 13}, dt::kEndEllipsis).lines[0].text, "\u00e9t...");
}

TEST(TextLayout, LineFeedsAndWordBreaks) {
  TextLayout feeds = Layout("one\r\ntwo", {0, 0, 100, 50}, 0);
  ASSERT_EQ(feeds.lines.size(), 2u);
  EXPECT_EQ(feeds.lines[1], (TextLine{0, 13, "two"}));
  TextLayout words = Layout("aa bb cc dd", {0, 0, 42, 50}, dt::kWordBreak);
  ASSERT_EQ(words.lines.size(), 2u);
  EXPECT_EQ(words.lines[0].text, "aa bb");
  EXPECT_EQ(words.lines[1].text, "cc dd");
  EXPECT_FALSE(Layout("x", {0, 0, 1, 1}, dt::kNoClip).clipped);
}

}  // namespace
}  // namespace gdi

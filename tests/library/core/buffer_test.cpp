#include <gtest/gtest.h>

#include "core/buffer.h"

using brisquel::Buffer;

namespace {

TEST(BufferTest, NewAndEmptyAppends) {
  Buffer b;
  EXPECT_EQ(b.Text(), "");
  b.Append("");
  EXPECT_EQ(b.Text(), "");
  EXPECT_EQ(b.BlockLength(), 0u);
}

TEST(BufferTest, SpillHappensWhenTheBlockWouldBeFilledExactly) {
  Buffer b;
  b.Append(std::string(65500, 'a'));
  b.Append(std::string(25, 'b'));  // 65,501 + 25 = 65,526 still fits
  EXPECT_EQ(b.BlockLength(), 65525u);
  Buffer c;
  c.Append(std::string(65500, 'a'));
  c.Append(std::string(26, 'b'));  // 65,527 is more than the block
  EXPECT_EQ(c.BlockLength(), 0u);
  EXPECT_EQ(c.Text(), std::string(65500, 'a') + std::string(26, 'b'));
}

TEST(BufferTest, LongTextGoesStraightToOverflowAndSurvivesClear) {
  Buffer b;
  std::string big(70000, 'z');
  b.Append(big);
  EXPECT_EQ(b.BlockLength(), 0u);
  EXPECT_EQ(b.Text(), big);
  b.Append("tail");
  b.Clear();  // empties the block only
  EXPECT_EQ(b.Text(), big);
}

TEST(BufferTest, ClearDropsTextNotYetSpilled) {
  Buffer b;
  b.Append("abc");
  b.Clear();
  b.Append("d");
  EXPECT_EQ(b.Text(), "d");
}

TEST(BufferTest, AutoCrLfAndCharacterCounting) {
  Buffer b;
  b.SetAutoCrLf(true);
  b.Append("a");
  b.Append("b");
  EXPECT_EQ(b.Text(), "a\r\nb\r\n");
  Buffer u;
  u.Append("\xC3\xA9t\xC3\xA9");  // "été": three characters
  EXPECT_EQ(u.BlockLength(), 3u);
  EXPECT_EQ(brisquel::CharLength("\xE2\x82\xAC"), 1u);
}

TEST(BufferTest, ManySmallAppendsKeepOrderAcrossSpills) {
  Buffer b;
  std::string expected;
  for (int i = 0; i < 50000; ++i) {
    std::string piece = std::to_string(i) + ",";
    b.Append(piece);
    expected += piece;
  }
  EXPECT_EQ(b.Text(), expected);
}

}  // namespace

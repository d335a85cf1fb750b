#include <gtest/gtest.h>

#include "common/bitmap_file.h"

namespace tamsolo {
namespace {

TEST(BitmapFile, ThreeByTwoIs78BytesOfHeadersAndPaddedRowsBottomUp) {
  // Top row red, green, blue; bottom row white, black, grey.
  const std::string file = BitmapFile(3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0x808080});
  const std::string expected = std::string("BM") +
                               std::string("\x4E\0\0\0" "\0\0\0\0" "\x36\0\0\0", 12) +
                               std::string("\x28\0\0\0" "\3\0\0\0" "\2\0\0\0" "\1\0" "\x18\0" "\0\0\0\0"
                                           "\x18\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0", 40) +
                               std::string("\xFF\xFF\xFF" "\0\0\0" "\x80\x80\x80" "\0\0\0", 12) +
                               std::string("\0\0\xFF" "\0\xFF\0" "\xFF\0\0" "\0\0\0", 12);
  EXPECT_EQ(file, expected);
}

}  // namespace
}  // namespace tamsolo

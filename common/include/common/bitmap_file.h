// The bitmap file writer: 24 bits a pixel, rows bottom-up and padded to 4 bytes, "BM", the file
// size, 0, the offset 54, then the 40-byte header with the image size and no colour table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamsolo {

// `pixels` are 0x00RRGGBB, rows top-down, width x height of them.
std::string BitmapFile(int width, int height, const std::vector<uint32_t>& pixels);

}  // namespace tamsolo

// The tool bar's 21 x 21 pictures (arrow, box, box with star, arrow line) and the buttons' tips.
#pragma once

#include <cstdint>
#include <string>

namespace tamsolo {

// A data: URL of the button's picture; "" for the spare button, which has none.
std::string ToolPicture(int32_t command);
std::string ToolTitle(int32_t command);

}  // namespace tamsolo

// Where DrawText puts its lines: alignment, word breaks, end ellipsis. Shared by the backends so
// the canvas and the records agree.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gdi/dc.h"

namespace gdi {

struct TextLine {
  int x = 0, y = 0;  // top-left of the line
  std::string text;
  friend bool operator==(const TextLine&, const TextLine&) = default;
};

struct TextLayout {
  std::vector<TextLine> lines;
  bool clipped = true;  // draw only inside the rectangle
  Rect clip;
};

using MeasureFn = std::function<int(std::string_view)>;

TextLayout LayoutText(std::string_view text, const Rect& r, unsigned format, const MeasureFn& width,
                      int lineHeight);

}  // namespace gdi

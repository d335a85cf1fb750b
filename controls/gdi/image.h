// Pictures the controls draw, by resource number (the bitmap numbers of the module).
#pragma once

#include <functional>

#include "gdi/dc.h"

namespace gdi {

using ImageMaker = std::function<Image()>;
// Each control registers the pictures it owns; the picture is made once, when first asked for.
void RegisterImage(int id, ImageMaker maker);
// nullptr when no picture has that number (a failed LoadBitmap).
const Image* LoadImage(int id);

}  // namespace gdi

#include "gdi/dc.h"

#include <algorithm>

#include "gdi/colors.h"

namespace gdi {

Rect Rect::Intersect(const Rect& o) const {
  Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
         std::min(bottom, o.bottom)};
  if (r.Empty()) return {r.left, r.top, r.left, r.top};
  return r;
}

Dc::~Dc() = default;
Surface::~Surface() = default;

void Dc::DrawEdge(const Rect& r, Edge edge) {
  // Outer pair then inner pair, each a top-left and a bottom-right run of lines.
  COLORREF light = SysColor(SysColorIndex::BtnHighlight);
  COLORREF face = SysColor(SysColorIndex::Light3d);
  COLORREF shadow = SysColor(SysColorIndex::BtnShadow);
  COLORREF dark = SysColor(SysColorIndex::DkShadow3d);
  COLORREF outerTl = edge == Edge::Raised ? face : shadow;
  COLORREF outerBr = edge == Edge::Raised ? dark : light;
  COLORREF innerTl = edge == Edge::Raised ? light : dark;
  COLORREF innerBr = edge == Edge::Raised ? shadow : face;
  auto pair = [&](const Rect& q, COLORREF tl, COLORREF br) {
    SetPen(PenStyle::Solid, tl);
    MoveTo(q.left, q.bottom - 1);
    LineTo(q.left, q.top);
    LineTo(q.right - 1, q.top);
    SetPen(PenStyle::Solid, br);
    MoveTo(q.right - 1, q.top);
    LineTo(q.right - 1, q.bottom - 1);
    LineTo(q.left - 1, q.bottom - 1);
  };
  pair(r, outerTl, outerBr);
  pair({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, innerTl, innerBr);
}

}  // namespace gdi

// The drawing layer the controls paint through, shaped after the GDI calls they were written
// against: COLORREF colours (0x00BBGGRR), rectangles whose right and bottom edges are excluded,
// LineTo that leaves out its last pixel, pixel sizes at 96 dpi. Backends: RecordDc (a line of
// text per call, for tests) and CanvasDc (a 2D canvas in the page).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gdi {

using COLORREF = uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) { return c & 0xFF; }
constexpr int GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
constexpr int GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }

struct Point {
  int x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};
struct Size {
  int cx = 0, cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  Rect Intersect(const Rect& o) const;
  friend bool operator==(const Rect&, const Rect&) = default;
};

enum class PenStyle { Solid, Dot, Null };
enum class Edge { Raised, Sunken };

// DrawText format bits, with their GDI values.
namespace dt {
inline constexpr unsigned kLeft = 0x0, kCenter = 0x1, kRight = 0x2;
inline constexpr unsigned kTop = 0x0, kVCenter = 0x4, kBottom = 0x8;
inline constexpr unsigned kWordBreak = 0x10, kSingleLine = 0x20, kNoClip = 0x100;
inline constexpr unsigned kEndEllipsis = 0x8000;
}  // namespace dt

struct Font {
  std::string face = "MS Sans Serif";
  int height = 11;  // pixels: the em, or with cellHeight the cell (ascent plus descent)
  bool bold = false, italic = false, underline = false;
  // The height as a font made with a positive GDI height has it: the cell, so "Arial 13" draws
  // with an em of 11 pixels.
  bool cellHeight = false;
  friend bool operator==(const Font&, const Font&) = default;
};

// A picture kept as pixels (0xAARRGGBB), drawn unscaled.
struct Image {
  int id = 0;
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

class Surface;

class Dc {
 public:
  virtual ~Dc();

  virtual void SetPen(PenStyle style, COLORREF color) = 0;
  // A pen `width` pixels wide for the lines that follow (SetPen goes back to one pixel).
  virtual void SetWidePen(PenStyle style, COLORREF color, int width) {
    (void)width;
    SetPen(style, color);
  }
  virtual void MoveTo(int x, int y) = 0;
  virtual void LineTo(int x, int y) = 0;  // the end point itself is not drawn
  virtual void Polyline(std::span<const Point> points) = 0;
  virtual void FillRect(const Rect& r, COLORREF color) = 0;
  virtual void FrameRect(const Rect& r, COLORREF color) = 0;  // one pixel inside r
  virtual void SetFont(const Font& font) = 0;
  virtual void SetTextColor(COLORREF color) = 0;
  virtual void DrawText(std::string_view text, const Rect& r, unsigned format) = 0;
  virtual int TextWidth(std::string_view text) = 0;
  virtual int TextHeight() = 0;
  // The image's top-left at (x, y), unscaled, clipped to `clip`.
  virtual void DrawImage(const Image& image, int x, int y, const Rect& clip) = 0;
  // Off-screen drawing: a surface of its own size, then copied here at (x, y).
  virtual std::unique_ptr<Surface> CreateSurface(Size size) = 0;
  virtual void Blit(Surface& source, int x, int y) = 0;

  // Classic 3D edges, two pixels wide, in the button colours.
  void DrawEdge(const Rect& r, Edge edge);
};

class Surface {
 public:
  virtual ~Surface();
  virtual Dc& Draw() = 0;
  virtual Size Extent() const = 0;
};

}  // namespace gdi

// A Dc that writes one line of text per drawing call, so tests (native and in the browser)
// compare what was drawn rather than pixels: "FillRect 35,25,326,243 FFFFFF". Text measures
// 7 pixels a character and 13 a line.
#pragma once

#include <string>
#include <vector>

#include "gdi/dc.h"

namespace gdi {

class RecordDc : public Dc {
 public:
  static constexpr int kCharWidth = 7;
  static constexpr int kLineHeight = 13;

  const std::vector<std::string>& Calls() const { return calls_; }
  std::vector<std::string> TakeCalls();
  // Text measured as the records measure it.
  static int MeasureText(std::string_view text);

  void SetPen(PenStyle style, COLORREF color) override;
  void SetWidePen(PenStyle style, COLORREF color, int width) override;  // "SetPen Solid 000000 2"
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Polyline(std::span<const Point> points) override;
  void FillRect(const Rect& r, COLORREF color) override;
  void FrameRect(const Rect& r, COLORREF color) override;
  void SetFont(const Font& font) override;
  void SetTextColor(COLORREF color) override;
  void DrawText(std::string_view text, const Rect& r, unsigned format) override;
  int TextWidth(std::string_view text) override;
  int TextHeight() override;
  void DrawImage(const Image& image, int x, int y, const Rect& clip) override;
  std::unique_ptr<Surface> CreateSurface(Size size) override;
  void Blit(Surface& source, int x, int y) override;

  // A line written as is (backends that pass on what an off-screen surface recorded).
  void Add(std::string line);

 private:
  std::vector<std::string> calls_;
  int surfaces_ = 0;
};

std::string RectText(const Rect& r);  // "35,25,326,243"

}  // namespace gdi

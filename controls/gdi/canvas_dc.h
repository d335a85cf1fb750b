// The drawing layer over a 2D canvas of the page (emscripten only). Strokes are one pixel wide
// through pixel centres, so the canvas shows what GDI drew. When the control's element carries
// data-tamsolo-record, every call is also written as RecordDc writes it, for browser tests.
#pragma once

#include "gdi/record_dc.h"

namespace gdi {

class CanvasDc : public Dc {
 public:
  // The canvas of the host `hostId`, or an off-screen surface (`surface` > 0).
  static std::unique_ptr<CanvasDc> ForHost(int hostId);
  CanvasDc(int hostId, int surface, bool record, bool flushRecords);
  ~CanvasDc() override;

  void SetPen(PenStyle style, COLORREF color) override;
  void SetWidePen(PenStyle style, COLORREF color, int width) override;
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

  int SurfaceId() const { return surface_; }
  RecordDc* Records() { return record_.get(); }

 private:
  void Flush();
  void Segment(Point a, Point b);
  int host_;
  int surface_;
  std::unique_ptr<RecordDc> record_;
  bool flush_;
  PenStyle pen_ = PenStyle::Solid;
  COLORREF penColor_ = 0;
  int penWidth_ = 1;
  COLORREF textColor_ = 0;
  Font font_;
  Point at_{};
  int surfaces_ = 0;
};

}  // namespace gdi

#include "gdi/canvas_dc.h"

#include <cstdlib>

#include "gdi/colors.h"
#include "gdi/text_layout.h"

extern "C" {
int tamsolo_gdi_host_surface(int host);
int tamsolo_gdi_create_surface(int width, int height);
void tamsolo_gdi_free_surface(int surface);
void tamsolo_gdi_fill_rect(int surface, int l, int t, int r, int b, int rgb);
void tamsolo_gdi_line(int surface, int x0, int y0, int x1, int y1, int rgb, int dotted);
void tamsolo_gdi_set_font(int surface, const char* face, int height, int cell, int bold, int italic);
int tamsolo_gdi_text_width(int surface, const char* text);
void tamsolo_gdi_text(int surface, const char* text, int x, int y, int rgb, int underline,
                      int clipped, int cl, int ct, int cr, int cb);
void tamsolo_gdi_image(int surface, int id, const uint32_t* pixels, int w, int h, int x, int y,
                       int cl, int ct, int cr, int cb);
void tamsolo_gdi_blit(int target, int source, int x, int y);
int tamsolo_host_recording(int host);
void tamsolo_host_record(int host, const char* line);
}

namespace gdi {

namespace {

int Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

class CanvasSurface : public Surface {
 public:
  CanvasSurface(int host, int number, Size size, bool record)
      : number_(number), size_(size),
        dc_(host, tamsolo_gdi_create_surface(size.cx, size.cy), record, false) {}
  ~CanvasSurface() override { tamsolo_gdi_free_surface(dc_.SurfaceId()); }
  Dc& Draw() override { return dc_; }
  Size Extent() const override { return size_; }
  int Number() const { return number_; }
  CanvasDc& Canvas() { return dc_; }

 private:
  int number_;
  Size size_;
  CanvasDc dc_;
};

}  // namespace

std::unique_ptr<CanvasDc> CanvasDc::ForHost(int hostId) {
  int surface = tamsolo_gdi_host_surface(hostId);
  if (surface <= 0) return nullptr;
  return std::make_unique<CanvasDc>(hostId, surface, tamsolo_host_recording(hostId) != 0, true);
}

CanvasDc::CanvasDc(int hostId, int surface, bool record, bool flushRecords)
    : host_(hostId), surface_(surface), record_(record ? std::make_unique<RecordDc>() : nullptr),
      flush_(flushRecords) {}

CanvasDc::~CanvasDc() = default;

void CanvasDc::Flush() {
  if (!record_ || !flush_) return;
  for (const std::string& line : record_->TakeCalls()) tamsolo_host_record(host_, line.c_str());
}

void CanvasDc::SetPen(PenStyle style, COLORREF color) {
  pen_ = style;
  penColor_ = color;
  penWidth_ = 1;
  if (record_) record_->SetPen(style, color);
  Flush();
}

void CanvasDc::SetWidePen(PenStyle style, COLORREF color, int width) {
  pen_ = style;
  penColor_ = color;
  penWidth_ = width < 1 ? 1 : width;
  if (record_) record_->SetWidePen(style, color, width);
  Flush();
}

void CanvasDc::MoveTo(int x, int y) {
  at_ = {x, y};
  if (record_) record_->MoveTo(x, y);
  Flush();
}

void CanvasDc::Segment(Point a, Point b) {
  if (pen_ == PenStyle::Null) return;
  // A wide pen as parallel one-pixel lines, side by side across the line's main direction.
  const bool flat = std::abs(b.x - a.x) >= std::abs(b.y - a.y);
  for (int i = 0; i < penWidth_; ++i) {
    const int dx = flat ? 0 : i, dy = flat ? i : 0;
    tamsolo_gdi_line(surface_, a.x + dx, a.y + dy, b.x + dx, b.y + dy, Rgb(penColor_), pen_ == PenStyle::Dot);
  }
}

void CanvasDc::LineTo(int x, int y) {
  Segment(at_, {x, y});
  at_ = {x, y};
  if (record_) record_->LineTo(x, y);
  Flush();
}

void CanvasDc::Polyline(std::span<const Point> points) {
  for (size_t i = 1; i < points.size(); ++i) Segment(points[i - 1], points[i]);
  if (record_) record_->Polyline(points);
  Flush();
}

void CanvasDc::FillRect(const Rect& r, COLORREF color) {
  tamsolo_gdi_fill_rect(surface_, r.left, r.top, r.right, r.bottom, Rgb(color));
  if (record_) record_->FillRect(r, color);
  Flush();
}

void CanvasDc::FrameRect(const Rect& r, COLORREF color) {
  int c = Rgb(color);
  tamsolo_gdi_fill_rect(surface_, r.left, r.top, r.right, r.top + 1, c);
  tamsolo_gdi_fill_rect(surface_, r.left, r.bottom - 1, r.right, r.bottom, c);
  tamsolo_gdi_fill_rect(surface_, r.left, r.top, r.left + 1, r.bottom, c);
  tamsolo_gdi_fill_rect(surface_, r.right - 1, r.top, r.right, r.bottom, c);
  if (record_) record_->FrameRect(r, color);
  Flush();
}

void CanvasDc::SetFont(const Font& font) {
  font_ = font;
  tamsolo_gdi_set_font(surface_, WebFontFace(font.face).c_str(), font.height, font.cellHeight, font.bold,
                       font.italic);
  if (record_) record_->SetFont(font);
  Flush();
}

void CanvasDc::SetTextColor(COLORREF color) {
  textColor_ = color;
  if (record_) record_->SetTextColor(color);
  Flush();
}

void CanvasDc::DrawText(std::string_view text, const Rect& r, unsigned format) {
  std::string shown = MapSymbolText(font_.face, text);
  TextLayout layout = LayoutText(
      shown, r, format, [this](std::string_view s) { return TextWidth(s); }, TextHeight());
  for (const TextLine& line : layout.lines)
    tamsolo_gdi_text(surface_, line.text.c_str(), line.x, line.y, Rgb(textColor_), font_.underline,
                     layout.clipped, r.left, r.top, r.right, r.bottom);
  if (record_) record_->DrawText(text, r, format);
  Flush();
}

int CanvasDc::TextWidth(std::string_view text) {
  return tamsolo_gdi_text_width(surface_, std::string(text).c_str());
}

int CanvasDc::TextHeight() { return font_.cellHeight ? font_.height : font_.height + 2; }

void CanvasDc::DrawImage(const Image& image, int x, int y, const Rect& clip) {
  Rect drawn = Rect{x, y, x + image.width, y + image.height}.Intersect(clip);
  if (!drawn.Empty() && !image.pixels.empty())
    tamsolo_gdi_image(surface_, image.id, image.pixels.data(), image.width, image.height, x, y,
                      drawn.left, drawn.top, drawn.right, drawn.bottom);
  if (record_) record_->DrawImage(image, x, y, clip);
  Flush();
}

std::unique_ptr<Surface> CanvasDc::CreateSurface(Size size) {
  ++surfaces_;
  if (record_)
    record_->CreateSurface(size);  // numbered as the records number them
  Flush();
  return std::make_unique<CanvasSurface>(host_, surfaces_, size, record_ != nullptr);
}

void CanvasDc::Blit(Surface& source, int x, int y) {
  auto& s = static_cast<CanvasSurface&>(source);
  tamsolo_gdi_blit(surface_, s.Canvas().SurfaceId(), x, y);
  if (!record_) return;
  if (RecordDc* inner = s.Canvas().Records())
    for (const std::string& call : inner->TakeCalls())
      record_->Add("[" + std::to_string(s.Number()) + "] " + call);
  record_->Add("Blit " + std::to_string(s.Number()) + " " + std::to_string(x) + "," +
               std::to_string(y));
  Flush();
}

}  // namespace gdi

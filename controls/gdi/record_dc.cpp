#include "gdi/record_dc.h"

#include <cstdio>
#include <utility>

#include "automation/text.h"
#include "gdi/colors.h"

namespace gdi {

namespace {

class RecordSurface : public Surface {
 public:
  RecordSurface(int number, Size size) : number_(number), size_(size) {}
  Dc& Draw() override { return dc_; }
  Size Extent() const override { return size_; }
  int Number() const { return number_; }
  RecordDc& Records() { return dc_; }

 private:
  int number_;
  Size size_;
  RecordDc dc_;
};

const char* PenName(PenStyle s) {
  switch (s) {
    case PenStyle::Solid: return "Solid";
    case PenStyle::Dot: return "Dot";
    case PenStyle::Null: return "Null";
  }
  return "";
}

}  // namespace

std::string RectText(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

std::vector<std::string> RecordDc::TakeCalls() { return std::exchange(calls_, {}); }

int RecordDc::MeasureText(std::string_view text) {
  return static_cast<int>(automation::CharLength(text)) * kCharWidth;
}

void RecordDc::Add(std::string line) { calls_.push_back(std::move(line)); }

void RecordDc::SetPen(PenStyle style, COLORREF color) {
  Add(std::string("SetPen ") + PenName(style) + " " + HexColor(color));
}
void RecordDc::SetWidePen(PenStyle style, COLORREF color, int width) {
  Add(std::string("SetPen ") + PenName(style) + " " + HexColor(color) + " " + std::to_string(width));
}
void RecordDc::MoveTo(int x, int y) { Add("MoveTo " + std::to_string(x) + "," + std::to_string(y)); }
void RecordDc::LineTo(int x, int y) { Add("LineTo " + std::to_string(x) + "," + std::to_string(y)); }

void RecordDc::Polyline(std::span<const Point> points) {
  std::string line = "Polyline";
  for (const Point& p : points) line += " " + std::to_string(p.x) + "," + std::to_string(p.y);
  Add(line);
}

void RecordDc::FillRect(const Rect& r, COLORREF color) {
  Add("FillRect " + RectText(r) + " " + HexColor(color));
}
void RecordDc::FrameRect(const Rect& r, COLORREF color) {
  Add("FrameRect " + RectText(r) + " " + HexColor(color));
}

void RecordDc::SetFont(const Font& f) {
  Add("SetFont " + f.face + " " + std::to_string(f.height) + (f.bold ? " bold" : "") +
      (f.italic ? " italic" : "") + (f.underline ? " underline" : ""));
}
void RecordDc::SetTextColor(COLORREF color) { Add("SetTextColor " + HexColor(color)); }

void RecordDc::DrawText(std::string_view text, const Rect& r, unsigned format) {
  char fmt[16];
  std::snprintf(fmt, sizeof fmt, "%X", format);
  Add("DrawText " + RectText(r) + " " + fmt + " " + std::string(text));
}

int RecordDc::TextWidth(std::string_view text) { return MeasureText(text); }
int RecordDc::TextHeight() { return kLineHeight; }

void RecordDc::DrawImage(const Image& image, int x, int y, const Rect& clip) {
  Rect drawn = Rect{x, y, x + image.width, y + image.height}.Intersect(clip);
  Add("DrawImage " + std::to_string(image.id) + " " + std::to_string(x) + "," + std::to_string(y) +
      " " + RectText(drawn));
}

std::unique_ptr<Surface> RecordDc::CreateSurface(Size size) {
  ++surfaces_;
  Add("CreateSurface " + std::to_string(surfaces_) + " " + std::to_string(size.cx) + "x" +
      std::to_string(size.cy));
  return std::make_unique<RecordSurface>(surfaces_, size);
}

void RecordDc::Blit(Surface& source, int x, int y) {
  auto& s = static_cast<RecordSurface&>(source);
  for (const std::string& call : s.Records().TakeCalls())
    Add("[" + std::to_string(s.Number()) + "] " + call);
  Add("Blit " + std::to_string(s.Number()) + " " + std::to_string(x) + "," + std::to_string(y));
}

}  // namespace gdi

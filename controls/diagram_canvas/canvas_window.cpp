#include "diagram_canvas/canvas_window.h"

namespace tamsolo::canvas {
namespace {

std::vector<Variant> Mouse(int32_t button, int32_t shift, int32_t x, int32_t y) {
  return {Variant(button), Variant(shift), Variant(x), Variant(y)};
}

}  // namespace

CanvasWindow::CanvasWindow(Host& host, std::shared_ptr<DiagramCanvas> canvas)
    : host_(host), canvas_(std::move(canvas)) {
  Host* h = &host_;
  DiagramCanvas* c = canvas_.get();
  canvas_->SetRepaint([h] { h->Invalidate(); });
  canvas_->SetPointerChanged([h, c] { h->SetCursor(c->Cursor()); });
  canvas_->SetSink({
      [h](int32_t b, int32_t s, int32_t x, int32_t y) { h->Fire("MouseDown", Mouse(b, s, x, y)); },
      [h](int32_t b, int32_t s, int32_t x, int32_t y) { h->Fire("MouseMove", Mouse(b, s, x, y)); },
      [h](int32_t b, int32_t s, int32_t x, int32_t y) { h->Fire("MouseUp", Mouse(b, s, x, y)); },
      [h] { h->Fire("DblClick", {}); },
      [h](int32_t key, int32_t shift) { h->Fire("KeyUp", {Variant(key), Variant(shift)}); },
  });
  gdi::Size size = host_.ClientSize();
  canvas_->SetViewSize(size.cx, size.cy);
}

void CanvasWindow::Paint() {
  gdi::Size size = host_.ClientSize();
  canvas_->SetViewSize(size.cx, size.cy);
  if (auto dc = host_.GetDc()) canvas_->Draw(*dc);
}

}  // namespace tamsolo::canvas

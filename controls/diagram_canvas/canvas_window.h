// The canvas in a window of the page: it paints through the host's device context at the host's
// size, shows its pointer as the host's cursor, asks for a repaint on Refresh, and passes its
// mouse and key events on as the host's events MouseDown, MouseMove, MouseUp (button, shift,
// x, y), DblClick and KeyUp (key, shift).
#pragma once

#include <memory>

#include "diagram_canvas/diagram_canvas.h"
#include "host/host.h"

namespace tamsolo::canvas {

class CanvasWindow {
 public:
  CanvasWindow(Host& host, std::shared_ptr<DiagramCanvas> canvas);
  DiagramCanvas& Canvas() { return *canvas_; }
  void Paint();

 private:
  Host& host_;
  std::shared_ptr<DiagramCanvas> canvas_;
};

}  // namespace tamsolo::canvas

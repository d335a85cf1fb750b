// A control made for the tests: BackColor and ForeColor, a text property, a method that loads
// (ready state) and an event, drawing its background; Request(kind, url[, body]) makes a
// control's request and fires Transferred(id, "piece|piece|end") once it has ended. It uses the Chart's class entry.
#pragma once

#include <map>

#include "frame/bitmap_control.h"
#include "host/transfer.h"

namespace tamsolo::testing {

class ProbeControl : public Control {
 public:
  explicit ProbeControl(Host& host);
  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;
  std::string caption;
  bool pattern = false;  // draw one of each drawing call
  std::unique_ptr<DomElement> dialog, button;
  int32_t level = 0;
  Transfers transfers;
  std::map<int, std::string> transferLog;  // by request id: "piece|piece|end"
};

// Bitmap controls with the keyboard's and the capture control's rules over test pictures.
inline constexpr int kSmallBitmap = 9019;   // 19 x 19
inline constexpr int kWideBitmap = 9121;    // 121 x 66
void RegisterTestPictures();

}  // namespace tamsolo::testing

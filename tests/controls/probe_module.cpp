// The test build of the browser module: the shipped classes plus the probe, under the Chart's
// class identifier, and the keyboard frame, so the browser check can drive PARAMs, events, vetoes and the ready state.
#include "frame/control_classes.h"
#include "probe_control.h"

namespace {

const bool registered = [] {
  tamsolo::RegisterControlClass("Chart", [](tamsolo::Host& host) {
    return std::make_unique<tamsolo::testing::ProbeControl>(host);
  });
  // The keyboard's frame, over a test picture: invisible at run time.
  tamsolo::testing::RegisterTestPictures();
  tamsolo::RegisterControlClass("Keyboard", [](tamsolo::Host& host) {
    return std::make_unique<tamsolo::BitmapControl>(host, *tamsolo::FindClassByName("Keyboard"),
                                                    tamsolo::testing::kSmallBitmap,
                                                    tamsolo::ExtentBitmapPixels{}, true);
  });
  return true;
}();

}  // namespace

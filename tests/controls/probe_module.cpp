// The test build of the browser module: the shipped classes plus the probe, under the Chart's
// class identifier, so the browser checks can drive PARAMs, events, vetoes and the ready state.
#include "frame/control_classes.h"
#include "probe_control.h"

namespace {

const bool registered = [] {
  tamsolo::RegisterControlClass("Chart", [](tamsolo::Host& host) {
    return std::make_unique<tamsolo::testing::ProbeControl>(host);
  });
  return true;
}();

}  // namespace

#include "probe_control.h"

#include "gdi/colors.h"
#include "gdi/image.h"

namespace tamsolo::testing {

using automation::Variant;

ProbeControl::ProbeControl(Host& host) : Control(host, *FindClassByName("Chart")) {
  AddBackColor();
  AddProperty(
      "Caption", 1, [this] { return Variant(caption); },
      [this](const Variant& v) { SetStock(1, caption, v.ToString()); });
  AddForeColor();
  AddProperty(
      "Level", 2, [this] { return Variant(level); },
      [this](const Variant& v) { SetStock(2, level, v.ToLong()); });
  AddProperty("Enabled", 3, [] { return Variant(true); }, nullptr, false);
  AddProperty("UserMode", 4, [this] { return Variant(host_.UserMode()); }, nullptr, false);
  AddMethod("Load", [this](std::vector<Variant>& args) {
    host_.Fire("Loaded", {args.empty() ? Variant(caption) : args[0]});
    SetReadyState(kReadyStateComplete);
    return Variant();
  });
}

HRESULT ProbeControl::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  dc.FillRect(bounds, gdi::TranslateColor(BackColor()));
  return hr::kOk;
}

void RegisterTestPictures() {
  gdi::RegisterImage(kSmallBitmap, [] { return gdi::Image{0, 19, 19, {}}; });
  gdi::RegisterImage(kWideBitmap, [] { return gdi::Image{0, 121, 66, {}}; });
}

}  // namespace tamsolo::testing

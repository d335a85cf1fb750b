#include "frame/bitmap_control.h"

#include "gdi/image.h"

namespace tamsolo {

BitmapControl::BitmapControl(Host& host, const ClassEntry& entry, int bitmap, ExtentRule rule,
                             bool naturalFromBitmap)
    : Control(host, entry), bitmap_(bitmap), rule_(rule), naturalFromBitmap_(naturalFromBitmap) {}

HRESULT BitmapControl::FinalConstruct() {
  if (!naturalFromBitmap_) return hr::kOk;
  const gdi::Image* image = gdi::LoadImage(bitmap_);
  if (!image) return hr::kFalse;
  SetNaturalPixels({image->width, image->height});
  return hr::kOk;
}

HRESULT BitmapControl::Draw(gdi::Dc& dc, const gdi::Rect& bounds) {
  const gdi::Image* image = gdi::LoadImage(bitmap_);
  if (!image) return hr::kFalse;
  dc.DrawImage(*image, bounds.left, bounds.top, bounds);
  return hr::kOk;
}

HRESULT BitmapControl::SetExtent(gdi::Size himetric) {
  if (std::holds_alternative<ExtentFixed>(rule_)) {
    SetExtentStored(std::get<ExtentFixed>(rule_).himetric);
  } else if (std::holds_alternative<ExtentBitmapPixels>(rule_)) {
    const gdi::Image* image = gdi::LoadImage(bitmap_);
    if (!image) return hr::kFalse;
    SetExtentStored({image->width, image->height});
  } else {
    SetExtentStored(himetric);
  }
  return hr::kOk;
}

HRESULT ObjectSafety::GetInterfaceSafetyOptions(std::string_view iid, uint32_t& supported,
                                                uint32_t& enabled) const {
  if (!control_.Implements(iid)) {
    supported = enabled = 0;
    return hr::kNoInterface;
  }
  supported = kSupported;
  enabled = enabled_;
  return hr::kOk;
}

HRESULT ObjectSafety::SetInterfaceSafetyOptions(std::string_view iid, uint32_t mask,
                                                uint32_t options) {
  if (!control_.Implements(iid)) return hr::kNoInterface;
  if (mask & ~kSupported) return hr::kFail;
  enabled_ = (enabled_ & ~mask) | (options & mask);
  return hr::kOk;
}

}  // namespace tamsolo

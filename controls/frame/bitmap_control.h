// The controls that are a picture (capture, keyboard, logo): they draw one bitmap at their
// rectangle's top-left corner and answer SetExtent by a rule of their own.
#pragma once

#include <variant>

#include "frame/control.h"

namespace tamsolo {

// How SetExtent answers: store what is asked, store the bitmap's pixel size as it stands (the
// numbers unconverted), or store a fixed HIMETRIC size.
struct ExtentAsAsked {};
struct ExtentBitmapPixels {};
struct ExtentFixed {
  gdi::Size himetric;
};
using ExtentRule = std::variant<ExtentAsAsked, ExtentBitmapPixels, ExtentFixed>;

class BitmapControl : public Control {
 public:
  // With `naturalFromBitmap` creation takes the extent from the bitmap (S_FALSE when missing).
  BitmapControl(Host& host, const ClassEntry& entry, int bitmap, ExtentRule rule,
                bool naturalFromBitmap);

  HRESULT FinalConstruct() override;
  HRESULT Draw(gdi::Dc& dc, const gdi::Rect& bounds) override;
  HRESULT SetExtent(gdi::Size himetric) override;
  int Bitmap() const { return bitmap_; }

 private:
  int bitmap_;
  ExtentRule rule_;
  bool naturalFromBitmap_;
};

// IObjectSafety as the logo answers it: options 3 for every interface it has.
class ObjectSafety {
 public:
  static constexpr uint32_t kSupported = 3;  // safe for untrusted callers and data
  explicit ObjectSafety(const Control& control) : control_(control) {}
  HRESULT GetInterfaceSafetyOptions(std::string_view iid, uint32_t& supported, uint32_t& enabled) const;
  HRESULT SetInterfaceSafetyOptions(std::string_view iid, uint32_t mask, uint32_t options);

 private:
  const Control& control_;
  uint32_t enabled_ = 0;
};

}  // namespace tamsolo

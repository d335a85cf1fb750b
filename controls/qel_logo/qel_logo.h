// The logo control: our 136 x 87 picture (bitmap 243), nothing else; safe for scripting.
#pragma once

#include <memory>

#include "frame/bitmap_control.h"

namespace tamsolo {

inline constexpr int kLogoBitmap = 243;
inline constexpr gdi::Size kLogoExtent{133, 125};  // HIMETRIC, whatever the container asks

class QELLogo : public BitmapControl {
 public:
  explicit QELLogo(Host& host);
  bool Implements(std::string_view iid) const override;
  ObjectSafety& Safety() { return safety_; }

 private:
  ObjectSafety safety_{*this};
};

gdi::Image MakeLogoImage();
void RegisterQELLogo();  // the class factory's creator and the picture

}  // namespace tamsolo

// Colours, units and fonts as the controls met them on a classic Windows desktop at 96 dpi.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gdi/dc.h"

namespace gdi {

enum class SysColorIndex : int {
  ScrollBar = 0, Background = 1, ActiveCaption = 2, InactiveCaption = 3, Menu = 4, Window = 5,
  WindowFrame = 6, MenuText = 7, WindowText = 8, CaptionText = 9, ActiveBorder = 10,
  InactiveBorder = 11, AppWorkspace = 12, Highlight = 13, HighlightText = 14, BtnFace = 15,
  BtnShadow = 16, GrayText = 17, BtnText = 18, InactiveCaptionText = 19, BtnHighlight = 20,
  DkShadow3d = 21, Light3d = 22, InfoText = 23, InfoBk = 24,
};

// The classic (Windows 2000) scheme.
COLORREF SysColor(SysColorIndex index);

// OLE_COLOR to COLORREF: with the top bit set the low byte names a system colour.
COLORREF TranslateColor(uint32_t oleColor);

// "RRGGBB" in upper-case hex, the order the canvas and the drawing records use.
std::string HexColor(COLORREF c);

inline constexpr int kDpi = 96;
constexpr int PixelsToTwips(int px) { return px * 15; }
constexpr int TwipsToPixels(int twips) { return twips / 15; }
// HIMETRIC (hundredths of a millimetre) with the rounding the frame has always used.
constexpr int PixelsToHimetric(int px) { return (px * 2540 + kDpi / 2) / kDpi; }
constexpr int HimetricToPixels(int hm) { return (hm * kDpi + 1270) / 2540; }

// The face a page can draw for the one the control asks for.
std::string WebFontFace(std::string_view face);
// Symbol fonts draw their few glyphs we use as ordinary characters ("5" in Webdings is "▲").
std::string MapSymbolText(std::string_view face, std::string_view text);

}  // namespace gdi

#include "gdi/colors.h"

#include <array>
#include <cstdio>

#include "automation/text.h"

namespace gdi {

namespace {

constexpr std::array<COLORREF, 25> kClassic{
    RGB(212, 208, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128),
    RGB(212, 208, 200), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
    RGB(0, 0, 0),       RGB(255, 255, 255), RGB(212, 208, 200), RGB(212, 208, 200),
    RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255), RGB(212, 208, 200),
    RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),
    RGB(255, 255, 225)};

}  // namespace

COLORREF SysColor(SysColorIndex index) {
  auto i = static_cast<size_t>(index);
  return i < kClassic.size() ? kClassic[i] : RGB(0, 0, 0);
}

COLORREF TranslateColor(uint32_t oleColor) {
  if (oleColor & 0x80000000u) return SysColor(static_cast<SysColorIndex>(oleColor & 0xFF));
  return oleColor & 0x00FFFFFFu;
}

std::string HexColor(COLORREF c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return buf;
}

std::string WebFontFace(std::string_view face) {
  if (automation::EqualsNoCase(face, "Arial") || automation::EqualsNoCase(face, "MS Sans Serif") ||
      automation::EqualsNoCase(face, "Microsoft Sans Serif"))
    return "Liberation Sans";
  if (automation::EqualsNoCase(face, "Verdana")) return "DejaVu Sans";
  return std::string(face);
}

std::string MapSymbolText(std::string_view face, std::string_view text) {
  if (!automation::EqualsNoCase(face, "Webdings")) return std::string(text);
  std::string out;
  for (char c : text) {
    if (c == '5') out += "\u25B2";
    else if (c == '6') out += "\u25BC";
    else out += c;
  }
  return out;
}

}  // namespace gdi

#include <gtest/gtest.h>

#include <tuple>

#include "gdi/colors.h"
#include "gdi/record_dc.h"

namespace gdi {
namespace {

TEST(Colors, OleColoursWithTheTopBitAreClassicSystemColours) {
  struct Case {
    uint32_t ole;
    COLORREF expected;
  } cases[] = {
      {0x8000000F, RGB(212, 208, 200)},  // button face
      {0x80000012, RGB(0, 0, 0)},        // button text
      {0x80000005, RGB(255, 255, 255)},  // window
      {0x80000010, RGB(128, 128, 128)},  // button shadow
      {0x80000015, RGB(64, 64, 64)},     // 3D dark shadow
      {0x80000018, RGB(255, 255, 225)},  // tooltip
      {0x000000FF, RGB(255, 0, 0)},      // plain COLORREF, red
      {0x01FF8040, RGB(0x40, 0x80, 0xFF)},
  };
  for (const Case& c : cases) EXPECT_EQ(TranslateColor(c.ole), c.expected) << std::hex << c.ole;
  EXPECT_EQ(HexColor(RGB(212, 208, 200)), "D4D0C8");
}

TEST(Units, TwipsAndHimetricAt96Dpi) {
  EXPECT_EQ(PixelsToTwips(121), 1815);
  EXPECT_EQ(TwipsToPixels(1815), 121);
  EXPECT_EQ(PixelsToHimetric(121), 3201);
  EXPECT_EQ(PixelsToHimetric(66), 1746);
  EXPECT_EQ(PixelsToHimetric(19), 503);
  EXPECT_EQ(HimetricToPixels(3201), 121);
}

TEST(Fonts, FacesAndSymbolsThePageCanDraw) {
  EXPECT_EQ(WebFontFace("Arial"), "Liberation Sans");
  EXPECT_EQ(WebFontFace("ms sans serif"), "Liberation Sans");
  EXPECT_EQ(WebFontFace("Verdana"), "DejaVu Sans");
  EXPECT_EQ(WebFontFace("Courier New"), "Courier New");
  EXPECT_EQ(MapSymbolText("Webdings", "56"), "\u25B2\u25BC");
  EXPECT_EQ(MapSymbolText("Arial", "56"), "56");
}

TEST(RecordDc, WritesOneLinePerCall) {
  RecordDc dc;
  dc.FillRect({35, 25, 326, 243}, RGB(255, 255, 255));
  dc.FrameRect({0, 0, 10, 10}, RGB(0, 0, 128));
  dc.SetPen(PenStyle::Dot, RGB(128, 128, 128));
  dc.MoveTo(1, 2);
  dc.LineTo(30, 2);
  Point pts[] = {{0, 0}, {5, 5}, {10, 0}};
  dc.Polyline(pts);
  dc.SetFont({"Arial", 12, true, false, false});
  dc.SetTextColor(RGB(1, 2, 3));
  dc.DrawText("Open", {0, 0, 50, 13}, dt::kCenter | dt::kSingleLine);
  EXPECT_EQ(dc.TextWidth("Open"), 28);
  EXPECT_EQ(dc.Calls(), (std::vector<std::string>{
                            "FillRect 35,25,326,243 FFFFFF", "FrameRect 0,0,10,10 000080",
                            "SetPen Dot 808080", "MoveTo 1,2", "LineTo 30,2", "Polyline 0,0 5,5 10,0",
                            "SetFont Arial 12 bold", "SetTextColor 010203", "DrawText 0,0,50,13 21 Open"}));
}

TEST(RecordDc, ImagesAreClippedAndSurfacesBlitTheirCalls) {
  RecordDc dc;
  Image image{243, 136, 87, {}};
  dc.DrawImage(image, 10, 5, {10, 5, 100, 40});
  auto surface = dc.CreateSurface({20, 10});
  surface->Draw().FillRect({0, 0, 20, 10}, RGB(0, 0, 0));
  dc.Blit(*surface, 3, 4);
  EXPECT_EQ(surface->Extent(), (Size{20, 10}));
  EXPECT_EQ(dc.Calls(), (std::vector<std::string>{"DrawImage 243 10,5 10,5,100,40", "CreateSurface 1 20x10",
                                                  "[1] FillRect 0,0,20,10 000000", "Blit 1 3,4"}));
}

TEST(RecordDc, EdgesUseTheButtonColours) {
  RecordDc raised, sunken;
  raised.DrawEdge({0, 0, 10, 8}, Edge::Raised);
  sunken.DrawEdge({0, 0, 10, 8}, Edge::Sunken);
  std::vector<std::string> r = raised.Calls(), s = sunken.Calls();
  ASSERT_EQ(r.size(), 16u);
  ASSERT_EQ(s.size(), 16u);
  // The raised edge's pens and first strokes; the sunken edge takes the pens in the reverse order.
  const std::tuple<const std::vector<std::string>*, size_t, const char*> lines[] = {
      {&r, 0, "SetPen Solid D4D0C8"}, {&r, 1, "MoveTo 0,7"},          {&r, 3, "LineTo 9,0"},
      {&r, 4, "SetPen Solid 404040"}, {&r, 7, "LineTo -1,7"},         {&r, 8, "SetPen Solid FFFFFF"},
      {&r, 9, "MoveTo 1,6"},          {&r, 12, "SetPen Solid 808080"}, {&s, 0, "SetPen Solid 808080"},
      {&s, 4, "SetPen Solid FFFFFF"}, {&s, 8, "SetPen Solid 404040"},  {&s, 12, "SetPen Solid D4D0C8"}};
  for (const auto& [calls, i, line] : lines)
    EXPECT_EQ((*calls)[i], line) << (calls == &r ? "raised " : "sunken ") << i;
}

}  // namespace
}  // namespace gdi

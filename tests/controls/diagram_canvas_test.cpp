#include "diagram_canvas/diagram_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "diagram_canvas/canvas_window.h"
#include "gdi/colors.h"
#include "host/recording_host.h"
#include "gdi/image.h"
#include "gdi/record_dc.h"

namespace tamsolo::canvas {
namespace {

using K = InvokeKind;
using ObjectPtr = std::shared_ptr<automation::Object>;

std::shared_ptr<Dispatch> D(const Variant& v) { return std::dynamic_pointer_cast<Dispatch>(v.ToObject()); }
// A collection's item (DISPID 0) and an object's number property.
std::shared_ptr<Dispatch> Item(const std::shared_ptr<Dispatch>& coll, int32_t i) {
  return D(coll->Invoke(0, K::Get, {Variant(i)}));
}
double Num(const std::shared_ptr<Dispatch>& object, int32_t id) { return object->Invoke(id, K::Get).ToDouble(); }
std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k) v = v << 8 | (k < n ? uint8_t(bytes[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}
// The error number a call raises, 0 when none.
template <class Call>
int32_t Raised(Call call) {
  try {
    call();
  } catch (const automation::ComError& e) {
    return e.number;
  }
  return 0;
}

// The tool rows the editor applies: DISPID and value.
using Row = std::vector<std::pair<int32_t, int32_t>>;
const Row kSelect = {{28, 1}, {65, 1}, {13, 1}, {26, 1}, {23, 1}, {1, 0}, {24, 1}, {25, 1}, {2, 1}, {43, 0}};
const Row kNewState = {{28, 1}, {65, 0}, {13, 1}, {26, 1}, {23, 0}, {1, 1}, {24, 1}, {25, 0}, {2, 1}, {43, 2}};
const Row kNewAction = {{28, 1}, {65, 0}, {13, 1}, {26, 0}, {23, 1}, {1, 0}, {24, 0}, {25, 1}, {2, 0}, {55, 0},
                        {43, 2}};
const Row kLoading = {{28, 0}, {65, 0}, {13, 0}, {26, 0}, {23, 0}, {1, 0}, {24, 0}, {25, 0}, {2, 0}, {43, 11}};

class Canvas : public ::testing::Test {
 protected:
  void SetUp() override { c->SetViewSize(400, 300); }
  void Apply(const Row& row) {
    for (auto [id, v] : row) c->Invoke(id, K::Put, {id == 43 || id == 13 || id == 55 || id == 65 ? Variant(v) : Variant(v != 0)});
  }
  std::shared_ptr<Dispatch> Nodes() { return D(c->Invoke(46, K::Get)); }
  std::shared_ptr<Dispatch> AddNode(float l, float t, float w, float h) {
    return D(Nodes()->Invoke(3, K::Method, {Variant(double(l)), Variant(double(t)), Variant(double(w)), Variant(double(h))}));
  }
  std::shared_ptr<Dispatch> AddLink(const std::shared_ptr<Dispatch>& from, const std::shared_ptr<Dispatch>& to) {
    return D(D(from->Invoke(26, K::Get))->Invoke(3, K::Method, {Variant(ObjectPtr(to))}));
  }
  static int32_t Count(const std::shared_ptr<Dispatch>& coll) { return coll->Invoke(1, K::Get).ToLong(); }
  std::vector<std::string> Drawn() {
    gdi::RecordDc dc;
    c->Draw(dc);
    return dc.Calls();
  }
  void Drag(int x0, int y0, int x1, int y1) {
    c->MouseDown(1, 0, x0, y0);
    c->MouseMove(1, 0, (x0 + x1) / 2, (y0 + y1) / 2);
    c->MouseMove(1, 0, x1, y1);
    c->MouseUp(1, 0, x1, y1);
  }

  std::shared_ptr<DiagramCanvas> c = std::make_shared<DiagramCanvas>();
};

TEST_F(Canvas, NodeAddGivesIndexAndCount) {
  auto a = AddNode(300, 300, 1500, 600);
  auto b = AddNode(2900, 300, 1800, 600);
  EXPECT_EQ(Count(Nodes()), 2);
  EXPECT_EQ(a->Invoke(24, K::Get).ToLong(), 1);
  EXPECT_EQ(b->Invoke(24, K::Get).ToLong(), 2);
  EXPECT_EQ(Item(Nodes(), 2), b);
  EXPECT_EQ(Num(b, 20), 2900);
  b->Invoke(6, K::Put, {Variant(5)});
  b->Invoke(8, K::Put, {Variant("New")});
  EXPECT_EQ(b->Invoke(6, K::Get).ToLong(), 5);
  EXPECT_EQ(b->Invoke(8, K::Get).ToString(), "New");
  b->Invoke(12, K::Put, {Variant(1)});  // to the back
  EXPECT_EQ(b->Invoke(24, K::Get).ToLong(), 1);
  Nodes()->Invoke(2, K::Method);
  EXPECT_EQ(Count(Nodes()), 0);
}

TEST_F(Canvas, ALinkAddMakesItsEndsPointsZeroAndOne) {
  auto a = AddNode(0, 0, 1500, 600);
  auto b = AddNode(3000, 1500, 1500, 600);
  auto link = AddLink(a, b);
  auto points = D(link->Invoke(22, K::Get));
  ASSERT_EQ(Count(points), 2);
  EXPECT_EQ(Num(Item(points, 0), 1), 750);
  EXPECT_EQ(Num(Item(points, 1), 2), 1800);
  points->Invoke(4, K::Method, {Variant(100.5), Variant(200.0)});
  points->Invoke(4, K::Method, {Variant(300.0), Variant(400.0)});
  ASSERT_EQ(Count(points), 4);
  EXPECT_EQ(Num(Item(points, 1), 1), 100.5);
  EXPECT_EQ(Num(Item(points, 2), 2), 400);
  EXPECT_EQ(Num(Item(points, 3), 1), 3750);
  EXPECT_EQ(D(link->Invoke(20, K::Get)), a);
  EXPECT_EQ(D(link->Invoke(21, K::Get)), b);
  EXPECT_EQ(link->Invoke(26, K::Get).ToLong(), 1);
  EXPECT_EQ(Count(D(b->Invoke(28, K::Get))), 1);
  b->Invoke(20, K::Put, {Variant(4500.0)});  // the target end follows its node
  EXPECT_EQ(Num(Item(points, 3), 1), 5250);
  points->Invoke(2, K::Method);
  EXPECT_EQ(Count(points), 2);
}

TEST_F(Canvas, RemovingANodeRemovesItsLinksFromBothEnds) {
  auto a = AddNode(0, 0, 900, 600), b = AddNode(1500, 0, 900, 600), x = AddNode(3000, 0, 900, 600);
  AddLink(a, b);
  AddLink(b, x);
  AddLink(x, a);
  AddLink(a, x);
  Nodes()->Invoke(4, K::Method, {Variant(2)});
  EXPECT_EQ(Count(Nodes()), 2);
  auto aLinks = D(a->Invoke(26, K::Get));
  ASSERT_EQ(Count(aLinks), 1);
  EXPECT_EQ(D(Item(aLinks, 1)->Invoke(21, K::Get)), x);
  EXPECT_EQ(Count(D(x->Invoke(28, K::Get))), 1);
  EXPECT_EQ(Count(D(x->Invoke(26, K::Get))), 1);
}

TEST_F(Canvas, HitTestsWithZoomAndScrolling) {
  c->SetViewSize(100, 100);
  auto node = AddNode(1500, 1500, 1500, 750);  // pixels 100,100 to 200,150 at zoom 100
  auto other = AddNode(6000, 6000, 1500, 750);
  auto link = AddLink(node, other);
  EXPECT_EQ(D(c->Invoke(78, K::Method, {Variant(2000.0), Variant(1800.0)})), node);
  EXPECT_EQ(c->Invoke(78, K::Method, {Variant(100.0), Variant(100.0)}).ToObject(), nullptr);
  EXPECT_EQ(D(c->Invoke(79, K::Method, {Variant(4500.0), Variant(4125.0)})), link);  // on the line of the centres
  EXPECT_EQ(c->Invoke(79, K::Method, {Variant(4500.0), Variant(3000.0)}).ToObject(), nullptr);
  struct Case {
    int32_t zoom;
    float scrollX, scrollY;
    int px, py;
    bool hit;
  } cases[] = {{100, 0, 0, 110, 110, true}, {100, 0, 0, 90, 110, false},  {200, 0, 0, 110, 110, false},
               {200, 0, 0, 220, 220, true}, {100, 600, 300, 60, 80, true}, {100, 600, 300, 170, 110, false},
               {200, 600, 300, 130, 170, true}, {200, 600, 300, 30, 80, false}};
  for (const Case& k : cases) {
    c->Invoke(47, K::Put, {Variant(k.zoom)});
    c->Invoke(48, K::Put, {Variant(k.zoom)});
    c->ScrollTo(k.scrollX, k.scrollY);
    EXPECT_EQ(c->Invoke(35, K::Get).ToDouble(), k.scrollX);
    EXPECT_EQ(c->Invoke(36, K::Get).ToDouble(), k.scrollY);
    EXPECT_EQ(c->NodeAt(c->ToTwipsX(k.px), c->ToTwipsY(k.py)) != nullptr, k.hit) << k.zoom << " " << k.px;
  }
}

TEST_F(Canvas, ScrollingStaysInsideTheDiagram) {
  c->SetViewSize(100, 100);
  AddNode(0, 0, 3000, 2250);  // 200 by 150 pixels
  c->ScrollTo(99999, -5);
  EXPECT_EQ(c->ScrollX(), 1500);
  EXPECT_EQ(c->ScrollY(), 0);
  c->Invoke(47, K::Put, {Variant(200)});
  c->ScrollTo(99999, 0);
  EXPECT_EQ(c->ScrollX(), 2250);
}

TEST_F(Canvas, ScrollBarsPageAndFollowTheirThumbs) {
  c->SetViewSize(100, 100);
  EXPECT_TRUE(c->HorizontalBar().Empty());
  AddNode(0, 0, 3000, 2250);  // 200 by 150 pixels: 1500 and 750 twips to scroll
  EXPECT_EQ(c->HorizontalBar(), (gdi::Rect{0, 84, 84, 100}));
  EXPECT_EQ(c->VerticalBar(), (gdi::Rect{84, 0, 100, 84}));
  EXPECT_EQ(c->HorizontalThumb(), (gdi::Rect{0, 84, 42, 100}));
  EXPECT_EQ(c->VerticalThumb(), (gdi::Rect{84, 0, 100, 56}));
  Apply(kNewState);
  c->MouseDown(1, 0, 60, 90);  // beside the thumb: a page on, no node drawn
  c->MouseUp(1, 0, 60, 90);
  EXPECT_EQ(c->ScrollX(), 1500);
  EXPECT_EQ(c->HorizontalThumb(), (gdi::Rect{42, 84, 84, 100}));
  Drag(50, 90, 29, 90);  // the thumb half its free way back
  EXPECT_EQ(c->ScrollX(), 750);
  c->MouseDown(1, 0, 90, 70);
  EXPECT_EQ(c->ScrollY(), 750);
  EXPECT_EQ(Count(Nodes()), 1);
  const std::vector<std::string> calls = Drawn();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "FillRect 0,84,84,100 D4D0C8"), calls.end());
}

TEST_F(Canvas, TheLoadingSwitchesAllowNothing) {
  int events = 0;
  c->SetSink({[&](int32_t, int32_t, int32_t, int32_t) { ++events; }, nullptr, nullptr, nullptr, nullptr});
  auto node = AddNode(1500, 1500, 1500, 750);
  Apply(kLoading);
  Drag(10, 10, 60, 60);
  Drag(110, 110, 300, 200);
  EXPECT_EQ(Count(Nodes()), 1);
  EXPECT_EQ(Num(node, 20), 1500);
  EXPECT_EQ(Count(D(c->Invoke(59, K::Get))), 0);
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 0);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(c->Cursor(), "wait");
}

TEST_F(Canvas, ANewStateDragDrawsTheFirstSelectedNode) {
  std::vector<std::string> seen;
  c->SetSink({[&](int32_t b, int32_t, int32_t x, int32_t y) { seen.push_back("down " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y)); },
              nullptr,
              [&](int32_t b, int32_t, int32_t, int32_t) { seen.push_back("up " + std::to_string(c->LastGesture() == Gesture::Node) + std::to_string(b)); },
              nullptr, nullptr});
  auto old = AddNode(6000, 3000, 900, 600);
  old->Invoke(10, K::Put, {Variant(true)});
  Apply(kNewState);
  c->Invoke(17, K::Put, {Variant(true)});
  c->Invoke(29, K::Put, {Variant(135.0)});
  c->Invoke(30, K::Put, {Variant(135.0)});
  Drag(10, 20, 111, 61);
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 1);
  ASSERT_EQ(Count(Nodes()), 2);
  auto drawn = Item(D(c->Invoke(59, K::Get)), 1);
  EXPECT_EQ(drawn, Item(Nodes(), 2));
  EXPECT_EQ(D(c->Invoke(51, K::Get)), drawn);
  EXPECT_EQ(Count(D(c->Invoke(59, K::Get))), 1);
  EXPECT_EQ(Num(drawn, 20), 135);   // 150 snapped
  EXPECT_EQ(Num(drawn, 21), 270);   // 300
  EXPECT_EQ(Num(drawn, 22), 1485);  // 1665 snapped to 1620, less 135
  EXPECT_EQ(Num(drawn, 23), 675);   // 915 snapped to 945, less 270
  EXPECT_EQ(seen, (std::vector<std::string>{"down 1 10,20", "up 11"}));
  EXPECT_EQ(c->Cursor(), "crosshair");
}

TEST_F(Canvas, ADrawnLinkIsTheCurrentLinkAndTheLastOfItsSource) {
  auto a = AddNode(1500, 1500, 1500, 750), b = AddNode(4500, 1500, 1500, 750), x = AddNode(1500, 4500, 900, 600);
  AddLink(a, x);
  Apply(kNewAction);
  Drag(150, 125, 350, 125);  // centre of a to centre of b
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 2);
  auto links = D(a->Invoke(26, K::Get));
  ASSERT_EQ(Count(links), 2);
  auto drawn = D(c->Invoke(52, K::Get));
  EXPECT_EQ(drawn, Item(links, 2));
  EXPECT_EQ(D(drawn->Invoke(21, K::Get)), b);
  EXPECT_EQ(drawn->Invoke(23, K::Get).ToLong(), 0);
  EXPECT_EQ(Num(a, 20), 1500);  // the New action tool moves nothing
  EXPECT_EQ(D(c->Invoke(51, K::Get)), nullptr);  // its source, where the drag began, is not current
  Drag(150, 125, 20, 20);  // ending on no node draws nothing
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 0);
  EXPECT_EQ(Count(links), 2);
  Drag(150, 125, 160, 130);  // a drag that stays on its node draws nothing
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 0);
  EXPECT_EQ(Count(links), 2);
  c->MouseDown(1, 0, 150, 125);  // out of its node and back: a link to itself
  c->MouseMove(1, 0, 150, 200);
  c->MouseUp(1, 0, 150, 125);
  EXPECT_EQ(c->Invoke(49, K::Get).ToLong(), 2);
  ASSERT_EQ(Count(links), 3);
  EXPECT_EQ(D(Item(links, 3)->Invoke(21, K::Get)), a);
  EXPECT_EQ(D(c->Invoke(52, K::Get)), Item(links, 3));
}

// The item last clicked or drawn is the one current item; an empty spot leaves none, and only a
// shift-click that adds to the selection keeps the current item of the other kind.
TEST_F(Canvas, OneItemIsCurrentUnlessAShiftClickAddsTheOtherKind) {
  auto a = AddNode(1500, 1500, 1500, 750), b = AddNode(4500, 1500, 1500, 750);  // 100,100 and 300,100
  auto link = AddLink(a, b);                                                  // through 250,125
  const std::shared_ptr<Dispatch> none;
  struct Click {
    int32_t button, shift;
    int x, y;
  };
  struct Case {
    std::vector<Click> clicks;
    std::shared_ptr<Dispatch> node, link;
  };
  const Click onA{1, 0, 150, 110}, onLink{1, 0, 250, 125}, empty{1, 0, 250, 250};
  const Click rightA{2, 0, 150, 110}, rightLink{2, 0, 250, 125}, rightEmpty{2, 0, 250, 250};
  Apply(kSelect);
  for (const Case& k : std::vector<Case>{{{onA}, a, none},
                                         {{onA, empty}, none, none},
                                         {{onA, rightLink}, none, link},
                                         {{onLink, onA}, a, none},
                                         {{rightLink, rightA}, a, none},
                                         {{rightA, rightEmpty}, none, none},
                                         {{onLink, {1, 1, 150, 110}}, a, link},
                                         {{onA, {1, 1, 250, 125}}, a, link},
                                         {{onA, {1, 1, 250, 125}, onLink}, none, link}}) {
    for (const Click& click : k.clicks) {
      c->MouseDown(click.button, click.shift, click.x, click.y);
      c->MouseUp(click.button, click.shift, click.x, click.y);
    }
    EXPECT_EQ(D(c->Invoke(51, K::Get)), k.node) << k.clicks.size() << " " << k.clicks.back().x;
    EXPECT_EQ(D(c->Invoke(52, K::Get)), k.link) << k.clicks.size() << " " << k.clicks.back().x;
  }
}

TEST_F(Canvas, SelectMovesSizesAndBends) {
  auto a = AddNode(1500, 1500, 1500, 750), b = AddNode(4500, 4500, 1500, 750);
  auto link = AddLink(a, b);
  D(link->Invoke(22, K::Get))->Invoke(4, K::Method, {Variant(4500.0), Variant(2250.0)});
  Apply(kSelect);
  c->Invoke(17, K::Put, {Variant(true)});
  Drag(110, 110, 141, 110);  // moved 465 twips to 1965, snapped to 15 steps
  EXPECT_EQ(Num(a, 20), 2025);
  EXPECT_TRUE(a->Invoke(10, K::Get).ToBool());
  Drag(235, 150, 255, 170);  // the bottom-right handle of the 135,100 - 235,150 box, 300 twips
  EXPECT_EQ(Num(a, 22), 1755);  // right 3825 snapped to 3780
  EXPECT_EQ(Num(a, 23), 1080);  // the move snapped the top to 1485; bottom 2535 to 2565
  c->Invoke(17, K::Put, {Variant(false)});
  Drag(300, 150, 310, 160);  // the bend
  auto bend = Item(D(link->Invoke(22, K::Get)), 1);
  EXPECT_EQ(Num(bend, 1), 4650);
  EXPECT_EQ(Num(bend, 2), 2400);
  EXPECT_TRUE(link->Invoke(12, K::Get).ToBool());
  EXPECT_EQ(Count(D(c->Invoke(60, K::Get))), 1);
  D(c->Invoke(60, K::Get))->Invoke(3, K::Method);
  EXPECT_EQ(Count(D(c->Invoke(60, K::Get))), 0);
}

TEST_F(Canvas, PointerCodesAreCssCursors) {
  const std::string png = "url(data:image/png;base64," + Base64(PointerPng()) + ") 0 0, default";
  struct Case {
    int32_t code;
    Variant picture;
    std::string css;
  };
  for (const Case& k : std::vector<Case>{{0, Variant(), "default"},       {1, Variant(), "default"},
                                         {2, Variant(), "crosshair"},     {5, Variant(), "move"},
                                         {6, Variant(), "nesw-resize"},   {7, Variant(), "ns-resize"},
                                         {8, Variant(), "nwse-resize"},   {9, Variant(), "ew-resize"},
                                         {11, Variant(), "wait"},         {99, Variant(int32_t{227}), png},
                                         {99, Variant(), "default"},      {99, Variant(int32_t{228}), "default"}}) {
    c->Invoke(44, K::Put, {k.picture});
    c->Invoke(43, K::Put, {Variant(k.code)});
    EXPECT_EQ(c->Cursor(), k.css) << k.code;
  }
}

// Cursor 227 is a 32 x 32 RGBA PNG whose chunks carry their CRCs, the pixels in stored blocks.
TEST_F(Canvas, TheNodePointerIsAPngPicture) {
  const std::string png = PointerPng();
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1A\n");
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
  };
  std::vector<std::string> chunks;
  std::string pixels;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t size = u32(at);
    const std::string type = png.substr(at + 4, 4), data = png.substr(at + 8, size);
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : type + data) {
      crc ^= uint8_t(ch);
      for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    EXPECT_EQ(u32(at + 8 + size), crc ^ 0xFFFFFFFFu) << type;
    chunks.push_back(type);
    if (type == "IHDR") {
      EXPECT_EQ(data, std::string("\0\0\0\x20\0\0\0\x20\x08\x06\0\0\0", 13));
    }
    if (type == "IDAT") pixels = data.substr(7, data.size() - 11);  // one block: its head and the Adler sum off
    at += 12 + size;
  }
  EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  ASSERT_EQ(pixels.size(), 32u * (1 + 32 * 4));
  auto pixel = [&](int x, int y) {
    const size_t at = size_t(y) * (1 + 32 * 4) + 1 + size_t(x) * 4;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", uint8_t(pixels[at]), uint8_t(pixels[at + 1]),
                  uint8_t(pixels[at + 2]), uint8_t(pixels[at + 3]));
    return std::string(hex);
  };
  EXPECT_EQ(pixel(0, 0), "000000FF");   // the tip, the hot spot
  EXPECT_EQ(pixel(1, 2), "FFFFFFFF");   // inside the arrow
  EXPECT_EQ(pixel(31, 31), "00000000");  // clear
}

TEST_F(Canvas, UnknownMembersAndIndexesRaiseTheirResults) {
  EXPECT_EQ(Raised([&] { c->Invoke(999, K::Get); }), kMemberNotFound);
  EXPECT_EQ(Raised([&] { Nodes()->Invoke(4, K::Method, {Variant(1)}); }), kBadIndex);
  EXPECT_TRUE(c->Invoke(-514, K::Get).ToBool());
  int paints = 0;
  c->SetRepaint([&] { ++paints; });
  c->Invoke(-550, K::Method);
  EXPECT_EQ(paints, 1);
}

TEST_F(Canvas, DrawsBoxesArrowsCaptionsAndHandles) {
  auto a = AddNode(1500, 1500, 1500, 750), b = AddNode(4500, 1500, 1500, 750);
  a->Invoke(8, K::Put, {Variant("New")});
  b->Invoke(8, K::Put, {Variant("Fixed - Closed")});
  auto link = AddLink(a, b);
  link->Invoke(10, K::Put, {Variant("Fix")});
  b->Invoke(10, K::Put, {Variant(true)});
  const std::vector<std::string> calls = Drawn();
  EXPECT_EQ(calls.front(), "FillRect 0,0,400,300 D4D0C8");
  // The last: b's bottom-right handle.
  for (const char* line : {"Polyline 200,125 300,125", "MoveTo 300,125", "FrameRect 100,100,200,150 000000",
                           "FrameRect 300,100,400,150 000000", "DrawText 102,101,198,149 8025 New",
                           "DrawText 240,119,261,132 120 Fix", "FillRect 397,147,403,153 0A246A"})
    EXPECT_NE(std::find(calls.begin(), calls.end(), line), calls.end()) << line;
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& s) { return s.ends_with("0A246A"); }), 8);
}

TEST_F(Canvas, ALinkToItsOwnNodeIsALoopOverTheTopRightCorner) {
  auto a = AddNode(1500, 1500, 1500, 750);
  AddLink(a, a);
  gdi::RecordDc dc;
  c->Draw(dc);
  const std::vector<std::string>& calls = dc.Calls();
  auto line = std::find(calls.begin(), calls.end(), "Polyline 188,100 188,88 212,88 212,112 200,112");
  ASSERT_NE(line, calls.end());
  EXPECT_EQ(line[1], "MoveTo 200,112");  // the arrow's head on the right edge
  EXPECT_EQ(c->LinkAt(c->ToTwipsX(212), c->ToTwipsY(100)), Item(D(a->Invoke(26, K::Get)), 1)) << "on the loop";
  EXPECT_EQ(c->LinkAt(c->ToTwipsX(150), c->ToTwipsY(125)), nullptr) << "the node's centre";
}

TEST_F(Canvas, GridDotsAndCurvedLinks) {
  c->SetViewSize(30, 20);
  c->gridShown = true;
  c->Invoke(29, K::Put, {Variant(150.0)});
  c->Invoke(30, K::Put, {Variant(150.0)});
  const std::vector<std::string> grid = Drawn();
  EXPECT_EQ(std::count_if(grid.begin(), grid.end(),
                          [](const std::string& s) { return s.starts_with("FillRect") && s.ends_with(" 808080"); }),
            3 * 2);
  auto a = AddNode(0, 0, 300, 300), b = AddNode(3000, 0, 300, 300);
  auto link = AddLink(a, b);
  D(link->Invoke(22, K::Get))->Invoke(4, K::Method, {Variant(1650.0), Variant(1500.0)});
  link->Invoke(23, K::Put, {Variant(1)});
  const std::vector<std::string> curve = Drawn();
  auto line = std::find_if(curve.begin(), curve.end(), [](const std::string& s) { return s.starts_with("Polyline"); });
  ASSERT_NE(line, curve.end());
  EXPECT_EQ(std::count(line->begin(), line->end(), ' '), 17);  // 16 pieces through the bend
}

TEST_F(Canvas, TheIssueCreateStarSitsOnTheButtonColours) {
  RegisterCanvasImages();
  const gdi::Image* star = gdi::LoadImage(kStarBitmap);
  ASSERT_NE(star, nullptr);
  ASSERT_EQ(star->width, 32);
  auto px = [&](int x, int y) { return star->pixels[static_cast<size_t>(y * 32 + x)] & 0xFFFFFF; };
  EXPECT_EQ(px(0, 0), 0xD4D0C8u);    // the button face round the star
  EXPECT_EQ(px(15, 15), 0xE0B000u);  // its body
  EXPECT_EQ(px(15, 1), 0xFFFFFFu);   // its rim, the button highlight
  auto node = AddNode(1500, 1500, 1500, 900);
  node->Invoke(16, K::Put, {Variant(kStarBitmap)});
  node->Invoke(8, K::Put, {Variant("Issue Create")});
  const std::vector<std::string> calls = Drawn();
  auto at = std::find_if(calls.begin(), calls.end(), [](const std::string& s) { return s.starts_with("DrawImage"); });
  ASSERT_NE(at, calls.end());
  EXPECT_TRUE(at->starts_with("DrawImage 229 134,102 ")) << *at;
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DrawText 102,135,198,159 8025 Issue Create"), calls.end());
}

TEST_F(Canvas, InAWindowItsPointerEventsAndRepaintsGoToTheHost) {
  RecordingHost host;
  host.size = {200, 100};
  CanvasWindow window(host, c);
  Apply(kNewState);  // sets pointer 2
  c->MouseDown(1, 1, 10, 20);
  c->MouseUp(2, 0, 10, 20);
  c->KeyUp(46, 0);
  c->DblClick();
  c->Invoke(-550, K::Method);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"SetCursor crosshair", "Fire MouseDown(1, 1, 10, 20)",
                                                  "Fire MouseUp(2, 0, 10, 20)", "Fire KeyUp(46, 0)",
                                                  "Fire DblClick()", "Invalidate"}));
  window.Paint();
  EXPECT_EQ(host.drawing.Calls().front(), "FillRect 0,0,200,100 D4D0C8");
}

}  // namespace
}  // namespace tamsolo::canvas

// The controls' popup menu in the page, over the recording host: marks, enabled states,
// separators, a submenu flying out, and a choice closing the menu.
#include <gtest/gtest.h>

#include <algorithm>

#include "frame/popup_menu.h"
#include "host/recording_host.h"

namespace tamsolo {
namespace {

// The number of the element that was given `attribute` ("data-command=220").
int ElementWith(const RecordingHost& host, const std::string& attribute) {
  for (const std::string& c : host.calls)
    if (c.starts_with("Element ") && c.ends_with(" SetAttribute " + attribute)) return std::stoi(c.substr(8));
  return 0;
}

TEST(PopupMenu, ShowsMarksStatesSeparatorsAndAFlyoutAndHandsOnTheChoice) {
  RecordingHost host;
  PopupMenu menu;
  std::vector<int32_t> chosen;
  int closed = 0;
  menu.OnClosed([&] { ++closed; });
  const std::vector<PopupItem> items{{"&Show Grid", 215, true, true},
                                     {"", 0},
                                     {"&Off", 300, false},
                                     {"&Zoom", 0, true, false, {{"1&00%", 220, true, true}, {"&&50%", 221}}}};
  menu.Open(host, items, 12, 34, PopupMenu::Origin::kControl, [&](int32_t c) { chosen.push_back(c); });
  EXPECT_EQ(host.Count("AddToControl 1"), 1);  // the veil, then the list
  EXPECT_EQ(host.Count("AddToControl 2"), 1);
  for (const char* call : {"SetText Show Grid", "SetText 100%", "SetText &50%", "SetText \u2713",
                           "SetAttribute role=separator", "SetAttribute aria-haspopup=menu"})
    EXPECT_TRUE(std::any_of(host.calls.begin(), host.calls.end(),
                            [&](const std::string& c) { return c.ends_with(call); }))
        << call;
  const int grid = ElementWith(host, "data-command=215"), off = ElementWith(host, "data-command=300");
  const int hundred = ElementWith(host, "data-command=220"), zoom = ElementWith(host, "aria-haspopup=menu");
  EXPECT_GT(ElementWith(host, "aria-checked=true"), 0);
  EXPECT_EQ(ElementWith(host, "aria-disabled=true"), off);

  // A disabled item does nothing; the submenu shows when the mouse enters its row.
  host.Trigger(off, "click");
  EXPECT_TRUE(menu.IsOpen());
  host.calls.clear();
  host.Trigger(zoom, "mouseenter");
  EXPECT_TRUE(std::any_of(host.calls.begin(), host.calls.end(),
                          [](const std::string& c) { return c.ends_with("display:block"); }));

  // Entering a sub-item's row leaves the submenu it is in alone.
  host.calls.clear();
  host.Trigger(hundred, "mouseenter");
  EXPECT_TRUE(host.calls.empty());
  host.Trigger(grid, "click");
  EXPECT_FALSE(menu.IsOpen());
  EXPECT_EQ(chosen, std::vector<int32_t>{215});
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(host.Count("Element 1 Detach"), 1);
}

}  // namespace
}  // namespace tamsolo

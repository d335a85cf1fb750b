// A popup menu as DOM elements of the page, for every control that shows one: items with their
// enabled state and check marks, separators, and submenus that fly out beside their item when the
// mouse enters it (or it is clicked). A clear veil behind the list closes the menu when pressed.
// Choosing an enabled item closes the menu and hands its command on. Closing only takes the
// elements out of the page, since the click that closes the menu is still running in one of them;
// they are freed when the next menu opens or the presenter ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace tamsolo {

struct PopupItem {
  std::string text;  // "&" marks the access key and is not shown
  int32_t command = 0;  // 0 with no items: a separator
  bool enabled = true;
  bool checked = false;
  std::vector<PopupItem> items = {};  // a submenu
};

// The text of an item as shown: "&" before a character is dropped, "&&" shows one "&".
std::string PopupText(const std::string& text);

class PopupMenu {
 public:
  // Where left and top count from: the page's viewport, or the control's own area.
  enum class Origin { kViewport, kControl };
  void Open(Host& host, const std::vector<PopupItem>& items, int left, int top, Origin origin,
            std::function<void(int32_t)> chosen);
  void Close();
  bool IsOpen() const { return open_; }
  // Called whenever an open menu closes (chosen, pressed beside, or closed by the control).
  void OnClosed(std::function<void()> closed) { closed_ = std::move(closed); }

 private:
  std::unique_ptr<DomElement> List(Host& host, const std::vector<PopupItem>& items, const std::string& style);
  // `flyouts` are those of the row's own list: entering the row shows its own and hides the rest.
  std::unique_ptr<DomElement> Row(Host& host, const PopupItem& item, std::vector<DomElement*>& flyouts);
  DomElement& Keep(std::unique_ptr<DomElement> e);

  std::vector<std::unique_ptr<DomElement>> live_, retired_;
  std::vector<std::unique_ptr<std::vector<DomElement*>>> flyouts_;  // per list
  std::function<void(int32_t)> chosen_;
  std::function<void()> closed_;
  bool open_ = false;
};

}  // namespace tamsolo

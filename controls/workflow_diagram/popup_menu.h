// Popup menu 226 of the workflow editor: its Canvas, Node and Link submenus with their items,
// separators, enabled states and marks. The menu is a model; the editor shows a submenu with the
// controls' popup menu over the control.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/popup_menu.h"

namespace tamsolo {

class Menu {
 public:
  enum Kind { kCanvas = 0, kNode = 1, kLink = 2 };
  Menu();
  const std::vector<PopupItem>& Items(Kind kind) const { return menus_[kind]; }
  const PopupItem* Find(int32_t command) const;
  void Enable(int32_t command, bool on);
  void Check(int32_t command, bool on);

 private:
  PopupItem* FindItem(int32_t command);
  std::vector<PopupItem> menus_[3];
};

}  // namespace tamsolo

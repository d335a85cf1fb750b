#include "workflow_diagram/popup_menu.h"

namespace tamsolo {

namespace {

PopupItem Separator() { return PopupItem{}; }

}  // namespace

Menu::Menu() {
  PopupItem zoom{"&Zoom", 0, true, false, {}};
  const char* levels[] = {"500%", "200%", "150%", "100%", "75%", "50%", "25%"};
  for (int32_t i = 0; i < 7; ++i) zoom.items.push_back({levels[i], 217 + i, true, i == 3, {}});
  menus_[kCanvas] = {{"&Show Grid", 215, true, true, {}}, {"S&nap to Grid", 216, true, true, {}}, Separator(), zoom};
  menus_[kNode] = {{"&Bring To Front", 32787, true, false, {}}, {"Se&nd To Back", 32788, true, false, {}}, Separator(),
                   {"&Delete", 224, true, false, {}},          Separator(),
                   {"&Properties", 225, true, false, {}}};
  menus_[kLink] = {{"&Reverse Direction", 32789, true, false, {}}, Separator(),
                   {"D&irect", 226, true, false, {}},
                   {"&Straight", 32790, true, false, {}},
                   {"&Curved", 32791, true, false, {}},
                   Separator(),
                   {"&Delete", 228, true, false, {}},
                   Separator(),
                   {"&Properties", 227, true, false, {}}};
}

PopupItem* Menu::FindItem(int32_t command) {
  for (auto& menu : menus_)
    for (PopupItem& item : menu) {
      if (item.command == command && command != 0) return &item;
      for (PopupItem& sub : item.items)
        if (sub.command == command) return &sub;
    }
  return nullptr;
}

const PopupItem* Menu::Find(int32_t command) const { return const_cast<Menu*>(this)->FindItem(command); }

void Menu::Enable(int32_t command, bool on) {
  if (PopupItem* i = FindItem(command)) i->enabled = on;
}

void Menu::Check(int32_t command, bool on) {
  if (PopupItem* i = FindItem(command)) i->checked = on;
}

}  // namespace tamsolo

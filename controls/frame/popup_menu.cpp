#include "frame/popup_menu.h"

namespace tamsolo {

namespace {

constexpr const char* kListStyle =
    "background:#D4D0C8;border:2px outset #FFFFFF;padding:2px 0;font:11px \"Liberation Sans\",sans-serif;"
    "color:#000000;white-space:nowrap;min-width:120px";
constexpr const char* kFlyoutStyle = "display:none;position:absolute;left:100%;top:-3px;z-index:1;";

}  // namespace

std::string PopupText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

DomElement& PopupMenu::Keep(std::unique_ptr<DomElement> e) {
  live_.push_back(std::move(e));
  return *live_.back();
}

void PopupMenu::Open(Host& host, const std::vector<PopupItem>& items, int left, int top, Origin origin,
                     std::function<void(int32_t)> chosen) {
  Close();
  retired_.clear();
  flyouts_.clear();
  chosen_ = std::move(chosen);
  const bool inControl = origin == Origin::kControl;
  const std::string position = inControl ? "position:absolute;" : "position:fixed;";
  DomElement& veil = Keep(host.CreateElement("div"));
  veil.SetAttribute("class", "tamsolo-menu-veil");
  veil.SetAttribute("style", position + "left:0;top:0;right:0;bottom:0;z-index:9998");
  veil.Listen("mousedown", [this] { Close(); });
  DomElement& list = Keep(List(host, items, position + "left:" + std::to_string(left) + "px;top:" +
                                                std::to_string(top) + "px;z-index:9999;"));
  list.SetAttribute("class", "tamsolo-menu");
  if (inControl) {
    host.AddToControl(veil);
    host.AddToControl(list);
  } else {
    host.AddToPage(veil);
    host.AddToPage(list);
  }
  open_ = true;
}

std::unique_ptr<DomElement> PopupMenu::List(Host& host, const std::vector<PopupItem>& items,
                                            const std::string& style) {
  auto list = host.CreateElement("div");
  list->SetAttribute("role", "menu");
  list->SetAttribute("style", style + kListStyle);
  flyouts_.push_back(std::make_unique<std::vector<DomElement*>>());
  std::vector<DomElement*>& flyouts = *flyouts_.back();
  for (const PopupItem& item : items) list->Append(Keep(Row(host, item, flyouts)));
  return list;
}

// One row: a check column, the text, and for a submenu an arrow and its flyout list.
std::unique_ptr<DomElement> PopupMenu::Row(Host& host, const PopupItem& item, std::vector<DomElement*>& flyouts) {
  auto row = host.CreateElement("div");
  if (item.command == 0 && item.items.empty()) {
    row->SetAttribute("role", "separator");
    row->SetAttribute("style", "border-top:1px solid #808080;border-bottom:1px solid #FFFFFF;margin:3px 1px");
    return row;
  }
  row->SetAttribute("class", "tamsolo-menu-item");
  row->SetAttribute("role", "menuitem");
  if (item.command) row->SetAttribute("data-command", std::to_string(item.command));
  if (!item.enabled) row->SetAttribute("aria-disabled", "true");
  if (item.checked) row->SetAttribute("aria-checked", "true");
  row->SetAttribute("style", std::string("position:relative;padding:2px 20px 2px 18px;cursor:default;") +
                                 (item.enabled ? "color:#000000" : "color:#808080"));
  DomElement& mark = Keep(host.CreateElement("span"));
  mark.SetAttribute("style", "position:absolute;left:5px");
  if (item.checked) mark.SetText("\u2713");
  row->Append(mark);
  DomElement& text = Keep(host.CreateElement("span"));
  text.SetText(PopupText(item.text));
  row->Append(text);
  DomElement* flyout = nullptr;
  if (!item.items.empty()) {
    row->SetAttribute("aria-haspopup", "menu");
    DomElement& arrow = Keep(host.CreateElement("span"));
    arrow.SetAttribute("style", "position:absolute;right:5px");
    arrow.SetText("\u25B8");
    row->Append(arrow);
    flyout = &Keep(List(host, item.items, kFlyoutStyle));
    flyout->SetAttribute("class", "tamsolo-menu tamsolo-submenu");
    row->Append(*flyout);
    flyouts.push_back(flyout);
  }
  row->Listen("mouseenter", [&flyouts, flyout] {
    for (DomElement* f : flyouts)
      if (f != flyout) f->SetAttribute("style", std::string(kFlyoutStyle) + kListStyle);
    if (flyout) flyout->SetAttribute("style", std::string(kFlyoutStyle) + kListStyle + ";display:block");
  });
  if (flyout) {
    row->Listen("click", [flyout] {
      flyout->SetAttribute("style", std::string(kFlyoutStyle) + kListStyle + ";display:block");
    });
  } else if (item.enabled && item.command) {
    const int32_t command = item.command;
    row->Listen("click", [this, command] {
      // A copy: the command may open the next menu, which replaces the one kept here.
      const std::function<void(int32_t)> chosen = chosen_;
      Close();
      if (chosen) chosen(command);
    });
  }
  return row;
}

void PopupMenu::Close() {
  if (!open_) return;
  open_ = false;
  for (auto& e : live_) e->Detach();
  for (auto& e : live_) retired_.push_back(std::move(e));
  live_.clear();
  if (closed_) closed_();
}

}  // namespace tamsolo

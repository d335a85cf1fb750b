#include "chart/chart.h"

#include <algorithm>
#include <array>

#include "frame/control_classes.h"
#include "gdi/colors.h"
#include "gdi/image.h"

namespace tamsolo {

namespace {

struct SeriesCommand {
  int command;
  const char* text;
  const char* key;
};
constexpr std::array<SeriesCommand, 5> kSeriesCommands{{
    {400, "Issues Opened", "New Issues"},
    {401, "Issues Closed", "Closed Issues"},
    {402, "Total Open Issues", "Total Open Issues"},
    {403, "Total Closed Issues", "Total Closed Issues"},
    {404, "Total Issues", "Total Issues"},
}};

struct NotImplemented {
  int command;
  const char* title;
};
constexpr std::array<NotImplemented, 14> kNotImplemented{{
    {100, "File Print"}, {101, "File Export"}, {102, "File ApplyStyle"}, {103, "File SaveStyle"},
    {104, "File RemoveStyle"}, {105, "File DefaultStyle"}, {200, "Period Day"}, {201, "Period Month"},
    {202, "Period 3Month"}, {203, "Period Year"}, {204, "Period AllDates"}, {205, "Period Custom"},
    {300, "ZoomIn"}, {301, "ZoomOut"},
}};

const std::vector<PopupItem> kFileMenu{{"Print...", 100},
                                      {"Export", 101},
                                      {"", 0},
                                      {"Apply Chart Style...", 102},
                                      {"Save Chart Style...", 103},
                                      {"Remove from Styles...", 104},
                                      {"", 0},
                                      {"Default", 105}};
const std::vector<PopupItem> kPeriodMenu{{"Day", 200},    {"Month", 201},     {"3 Month", 202},
                                        {"Year", 203},   {"All Dates", 204}, {"Custom...", 205}};

constexpr gdi::Size kMinimumExtent{315, 275};
constexpr int kMinimumWidth = 175;

// The legend's check boxes, 12 by 12: a sunken white box, with a tick when selected.
gdi::Image CheckImage(int id, bool ticked) {
  gdi::Image img{id, 12, 12, std::vector<uint32_t>(144, 0xFFFFFFFF)};
  for (int i = 0; i < 12; ++i) {
    img.pixels[i] = img.pixels[i * 12] = 0xFF808080;
    img.pixels[11 * 12 + i] = img.pixels[i * 12 + 11] = 0xFFD4D0C8;
  }
  if (ticked)
    for (int x = 3; x <= 8; ++x) {
      const int y = x <= 5 ? 4 + x - 3 : 7 - (x - 5);
      img.pixels[y * 12 + x] = img.pixels[(y + 1) * 12 + x] = 0xFF000000;
    }
  return img;
}

}  // namespace

Chart::Chart(Host& host) : ChartBase(host, *FindClassByName("Chart"), true) {
  AddMethod("UpdateGraph", [this](std::vector<Variant>&) {
    UpdateGraph();
    return Variant();
  });
  layout_ = chart::LayoutTrend(0, 0, 0);
}

HRESULT Chart::SetExtent(gdi::Size himetric) {
  const int w = std::max(gdi::HimetricToPixels(himetric.cx), kMinimumExtent.cx);
  const int h = std::max(gdi::HimetricToPixels(himetric.cy), kMinimumExtent.cy);
  SetExtentStored({gdi::PixelsToHimetric(w), gdi::PixelsToHimetric(h)});
  host_.Invalidate();
  return hr::kOk;
}

void Chart::UpdateGraph() {
  if (!CanRequest(GraphData())) return SetReadyState(kReadyStateComplete);
  series_.clear();
  Request(GraphData());
}

// The series already in the list are kept while another one loads.
void Chart::AddSeries(std::string_view key) {
  for (const chart::GraphSeries& s : series_)
    if (s.name == key) return;
  if (!CanRequest(key)) return SetReadyState(kReadyStateComplete);
  Request(key);
}

void Chart::Command(int command) {
  for (const SeriesCommand& c : kSeriesCommands)
    if (c.command == command) return AddSeries(c.key);
  for (const NotImplemented& c : kNotImplemented)
    if (c.command == command) return host_.MessageBox("Not Implemented", c.title, 0, mb::kOk, nullptr);
}

void Chart::OnReply(std::string_view text) {
  chart::GraphSeries s = chart::ReadTrendReply(text);
  loading_ = false;
  series_.push_back(std::move(s));
  SetReadyState(kReadyStateComplete);
  KeepMinimumWidth(kMinimumWidth);
}

Chart::Button Chart::ButtonAt(int x, int y) const {
  if (layout_.add.Contains(x, y)) return Button::Add;
  if (layout_.zoomIn.Contains(x, y)) return Button::ZoomIn;
  if (layout_.zoomOut.Contains(x, y)) return Button::ZoomOut;
  if (layout_.fileButton.Contains(x, y)) return Button::File;
  if (layout_.periodButton.Contains(x, y)) return Button::Period;
  return Button::None;
}

std::optional<size_t> Chart::LegendItemAt(int x, int y) const {
  if (!layout_.legend.Contains(x, y)) return std::nullopt;
  const size_t i = static_cast<size_t>((y - layout_.legend.top) / kLegendItemHeight);
  if (i >= series_.size()) return std::nullopt;
  return i;
}

void Chart::OpenMenu(Button button, const MouseInput& at) {
  auto chosen = [this](int command) { Command(command); };
  if (button == Button::Add) {
    std::vector<PopupItem> items;
    for (const SeriesCommand& c : kSeriesCommands) items.push_back({c.text, c.command});
    menu_.Open(host_, items, at.originX + layout_.add.left - 1, at.originY + layout_.add.bottom + 2,
               PopupMenu::Origin::kViewport, chosen);
  } else if (button == Button::File) {
    menu_.Open(host_, kFileMenu, at.originX + layout_.fileButton.left, at.originY + layout_.fileButton.bottom,
               PopupMenu::Origin::kViewport, chosen);
  } else if (button == Button::Period) {
    menu_.Open(host_, kPeriodMenu, at.originX + layout_.periodButton.left, at.originY + layout_.periodButton.bottom,
               PopupMenu::Origin::kViewport, chosen);
  }
}

void Chart::OnMouse(const MouseInput& m) {
  const Button at = m.kind == MouseInput::Kind::Leave ? Button::None : ButtonAt(m.x, m.y);
  if (at != hover_) {
    hover_ = at;
    host_.Invalidate();
  }
  if (m.kind == MouseInput::Kind::Down && m.button == MouseInput::kLeft) {
    menu_.Close();
    OpenMenu(at, m);
    // From item 1 on a click switches the item and its series; the first series always shows.
    if (std::optional<size_t> item = LegendItemAt(m.x, m.y); item && *item > 0) {
      series_[*item].visible = !series_[*item].visible;
      host_.Invalidate();
    }
  } else if (m.kind == MouseInput::Kind::Up && m.button == MouseInput::kLeft) {
    if (at == Button::ZoomIn) Command(300);
    if (at == Button::ZoomOut) Command(301);
  }
}

void RegisterChart() {
  gdi::RegisterImage(kCheckOffBitmap, [] { return CheckImage(kCheckOffBitmap, false); });
  gdi::RegisterImage(kCheckOnBitmap, [] { return CheckImage(kCheckOnBitmap, true); });
  RegisterControlClass("Chart", [](Host& host) { return std::make_unique<Chart>(host); });
}

}  // namespace tamsolo

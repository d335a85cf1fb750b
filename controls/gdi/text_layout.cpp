#include "gdi/text_layout.h"

namespace gdi {

namespace {

void PopCodePoint(std::string& s) {
  while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (!s.empty()) s.pop_back();
}

std::string WithEllipsis(std::string s, int room, const MeasureFn& width) {
  if (width(s) <= room) return s;
  while (!s.empty() && width(s + "...") > room) PopCodePoint(s);
  return s + "...";
}

// Splits at line feeds, and with word breaks also between words that no longer fit.
std::vector<std::string> BreakLines(std::string_view text, unsigned format, int room,
                                    const MeasureFn& width) {
  std::vector<std::string> out;
  if (format & dt::kSingleLine) {
    out.emplace_back(text);
    return out;
  }
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    std::string_view para = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
    if (!para.empty() && para.back() == '\r') para.remove_suffix(1);
    std::string line;
    size_t i = 0;
    while ((format & dt::kWordBreak) && i < para.size()) {
      size_t sp = para.find(' ', i);
      std::string word(para.substr(i, sp == std::string_view::npos ? sp : sp - i));
      std::string tryLine = line.empty() ? word : line + " " + word;
      if (!line.empty() && width(tryLine) > room) {
        out.push_back(line);
        line = word;
      } else {
        line = tryLine;
      }
      if (sp == std::string_view::npos) break;
      i = sp + 1;
    }
    out.push_back((format & dt::kWordBreak) ? line : std::string(para));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

}  // namespace

TextLayout LayoutText(std::string_view text, const Rect& r, unsigned format, const MeasureFn& width,
                      int lineHeight) {
  TextLayout layout;
  layout.clipped = (format & dt::kNoClip) == 0;
  layout.clip = r;
  std::vector<std::string> lines = BreakLines(text, format, r.Width(), width);
  int y = r.top;
  if (format & dt::kSingleLine) {
    if (format & dt::kVCenter) y = r.top + (r.Height() - lineHeight) / 2;
    else if (format & dt::kBottom) y = r.bottom - lineHeight;
  }
  for (std::string& s : lines) {
    if (format & dt::kEndEllipsis) s = WithEllipsis(std::move(s), r.Width(), width);
    int w = width(s);
    int x = r.left;
    if (format & dt::kCenter) x = r.left + (r.Width() - w) / 2;
    else if (format & dt::kRight) x = r.right - w;
    layout.lines.push_back({x, y, std::move(s)});
    y += lineHeight;
  }
  return layout;
}

}  // namespace gdi

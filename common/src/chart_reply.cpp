#include "common/chart_reply.h"

#include <algorithm>
#include <cmath>

#include "automation/vbdate.h"
#include "common/diagram_text.h"

namespace tamsolo::chart {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string_view WithoutHead(std::string_view text) {
  if (!text.starts_with("<!--")) return text;
  const size_t close = text.find("-->\r\n");
  return close == std::string_view::npos ? text : text.substr(close + 5);
}

}  // namespace

std::vector<std::string_view> ReplyLines(std::string_view text) {
  text = WithoutHead(text);
  std::vector<std::string_view> lines;
  bool dropNext = false;
  for (size_t at = 0;;) {
    const size_t end = text.find(kLineEnd, at);
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(at, end - at);
    at = end + kLineEnd.size();
    if (dropNext) {
      dropNext = false;
    } else if (line.starts_with("<!")) {
      dropNext = true;
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

int32_t LeadingInteger(std::string_view line) { return diagram::Integer(std::string(line)); }

double ReplyDate(std::string_view line) {
  std::optional<automation::Date> d = automation::ParseDate(line);
  return d ? d->value : kInvalidDate;
}

GraphSeries ReadTrendReply(std::string_view text) {
  GraphSeries series;
  const std::vector<std::string_view> lines = ReplyLines(text);
  if (lines.empty()) return series;
  series.name = std::string(lines[0]);
  for (size_t i = 1; i < lines.size(); i += 2) {
    const double count = i + 1 < lines.size() ? LeadingInteger(lines[i + 1]) : 0;
    series.points.push_back({ReplyDate(lines[i]), count});
  }
  return series;
}

BarReply ReadBarReply(std::string_view text) {
  BarReply reply;
  const std::vector<std::string_view> lines = ReplyLines(text);
  if (lines.empty()) return reply;
  reply.heading = std::string(lines[0]);
  for (size_t i = 1; i < lines.size(); i += 2)
    reply.items.push_back({std::string(lines[i]), i + 1 < lines.size() ? LeadingInteger(lines[i + 1]) : 0});
  return reply;
}

std::string ReplyLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out.append(kLineEnd);
}

std::string WriteTrendReply(const GraphSeries& series) {
  std::string out = ReplyLine(series.name);
  for (const GraphPoint& p : series.points) {
    out += ReplyLine(automation::ShortDateText(automation::Date{p.date}));
    // The reader takes counts as 32-bit whole numbers.
    const double count = std::isfinite(p.count) ? std::clamp(p.count, -2147483648.0, 2147483647.0) : 0;
    out += ReplyLine(std::to_string(static_cast<int32_t>(count)));
  }
  return out;
}

std::string WriteBarReply(const BarReply& reply) {
  std::string out = ReplyLine(reply.heading);
  for (const BarItem& item : reply.items) {
    out += ReplyLine(item.label);
    out += ReplyLine(std::to_string(item.count));
  }
  return out;
}

std::string QueryValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || c == ':' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace tamsolo::chart

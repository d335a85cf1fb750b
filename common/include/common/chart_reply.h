// The replies of the statistics pages that the two chart controls read, written here for the site's
// data pages and read here for the controls: an optional comment head
// ("<!-- ... -->" and CR LF), then lines that each end in CR LF (text after the last CR LF is not
// a line), where a line starting "<!" is dropped together with the line after it. The trend page
// sends a series name, then date and count lines; the distribution page a heading, then label
// and count lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamsolo::chart {

// What an unreadable date becomes (the OLE invalid date).
inline constexpr double kInvalidDate = -657435.0;

struct GraphPoint {
  double date = 0;  // OLE date
  double count = 0;
};

struct GraphSeries {
  std::string name;
  bool visible = true;
  std::vector<GraphPoint> points;
};

struct BarItem {
  std::string label;
  int32_t count = 0;
};

struct BarReply {
  std::string heading;
  std::vector<BarItem> items;
};

// The lines the reply's rules keep, in order.
std::vector<std::string_view> ReplyLines(std::string_view text);
// A decimal integer from the start of the line as atoi reads it (blanks, sign, digits; none: 0),
// held to the 32-bit range.
int32_t LeadingInteger(std::string_view line);
// An en-US date ("M/d/yyyy", with or without a time) as an OLE date; kInvalidDate when the text is
// no date.
double ReplyDate(std::string_view line);

GraphSeries ReadTrendReply(std::string_view text);
BarReply ReadBarReply(std::string_view text);

// One line of a reply: CR and LF inside the text written as blanks, then CR LF.
std::string ReplyLine(std::string_view text);
// The trend page's reply: the series name, then per point its date ("M/d/yyyy", the day only) and
// its count as a whole number. Visibility is the chart's own and not sent.
std::string WriteTrendReply(const GraphSeries& series);
// The distribution page's reply: the heading, then per bar its label and its count.
std::string WriteBarReply(const BarReply& reply);

// A value as it goes into a request's query: every byte but letters, digits, "-_.~" and the ":"
// and "/" of ids and paths as %hh, so "a&b" stays one value.
std::string QueryValue(std::string_view value);

}  // namespace tamsolo::chart

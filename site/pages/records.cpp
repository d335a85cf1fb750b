#include "site/pages/records.h"

#include <charconv>

namespace site {

std::optional<int32_t> WholeNumber(std::string_view text) {
  int32_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

}  // namespace site

#include "site/pages/records.h"

#include <charconv>

#include "site/host.h"

namespace site {

std::optional<int32_t> WholeNumber(std::string_view text) {
  int32_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

int32_t QueryNumber(PageContext& page, std::string_view name, int32_t fallback) {
  return WholeNumber(page.Query(name)).value_or(fallback);
}

}  // namespace site

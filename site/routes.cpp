#include "site/routes.h"

#include <cstdio>
#include <cstdlib>

#include "automation/text.h"

namespace site {

RouteTable& RouteTable::Instance() {
  static RouteTable table;
  return table;
}

void RouteTable::Add(std::string path, PageSpec spec) {
  auto& map = spec.prefix ? prefix_ : exact_;
  if (!map.emplace(automation::LowerAscii(path), std::move(spec)).second) {
    std::fprintf(stderr, "vantrel-site: two pages for %s\n", path.c_str());
    std::abort();
  }
}

const PageSpec* RouteTable::Find(std::string_view path) const {
  const std::string key = automation::LowerAscii(path);
  if (auto it = exact_.find(key); it != exact_.end()) return &it->second;
  // The longest prefix wins.
  const PageSpec* best = nullptr;
  size_t bestLength = 0;
  for (const auto& [p, spec] : prefix_) {
    if (key.starts_with(p) && p.size() > bestLength) {
      best = &spec;
      bestLength = p.size();
    }
  }
  return best;
}

std::vector<std::string> RouteTable::Paths() const {
  std::vector<std::string> out;
  for (const auto& [p, spec] : exact_) out.push_back(p);
  for (const auto& [p, spec] : prefix_) out.push_back(p);
  return out;
}

}  // namespace site

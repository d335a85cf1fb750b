// The filter criteria texts from outside: an AvailableFields catalogue and a FilterExpression
// text (split at the first NUL byte). Reading never crashes, hangs or reads past the text. A list
// that passes the checks over a catalogue of plain names becomes SQL that keeps its strings and
// parentheses closed and holds no statement separator, and its lines read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/criteria.h"

namespace {

namespace criteria = tamsolo::criteria;

bool Plain(std::string_view s) {
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.'))
      return false;
  return !s.empty();
}

void SqlInvariants(std::string_view sql) {
  int depth = 0;
  bool quoted = false;
  for (char c : sql) {
    if (c == '\'') quoted = !quoted;
    if (quoted) continue;
    if (c == ';') std::abort();
    if (c == '(') ++depth;
    if (c == ')' && --depth < 0) std::abort();
  }
  if (depth != 0 || quoted) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view fields = input.substr(0, split);
  std::string_view expression = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  criteria::FieldCatalogue catalogue = criteria::ReadAvailableFields(fields);
  criteria::ReadResult read = criteria::ReadFilterExpression(expression, catalogue);
  std::string text = criteria::FormatFilterExpression(read.criteria);
  std::string sql = criteria::FormatFqFilterExpression(read.criteria);
  if (!criteria::CriteriaProblem(read.criteria).empty()) return 0;
  for (const criteria::FieldRef& f : catalogue)
    if (!Plain(f->name) || !Plain(f->column)) return 0;
  SqlInvariants(sql);
  if (criteria::FormatFilterExpression(criteria::ReadFilterExpression(text, catalogue).criteria) != text) std::abort();
  return 0;
}

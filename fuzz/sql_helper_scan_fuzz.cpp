// The token scan of typed criteria: whatever the text, it ends with "acceptable" or one of its
// two sentences, and never crashes, hangs or reads past the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "configuration/sql_helper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  brisquel::SQLHelper helper;
  std::string message = helper.Scan(text);
  if (!message.empty() && message.rfind("Invalid criteria (", 0) != 0) std::abort();
  // Outside strings, a text that passes holds no ";".
  if (message.empty()) {
    char quote = 0;
    for (char c : text) {
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (c == ';') {
        std::abort();
      }
    }
  }
  return 0;
}

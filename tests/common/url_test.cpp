#include <gtest/gtest.h>

#include "common/url.h"

namespace tamsolo {
namespace {

// The same canonicaliser runs natively (the renderers) and in the browser module (the requests):
// this table runs in both builds.
TEST(CanonicalUrl, EscapesWhatIsUnsafeAndKeepsTheStructure) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"/APP/Workflow/Data.asp?Project=My Project", "/APP/Workflow/Data.asp?Project=My%20Project"},
      {"a\"'<>\\^{}|[]`b", "a%22%27%3C%3E%5C%5E%7B%7D%7C%5B%5D%60b"},
      {"/p;q:r#s?t=%41%zz%4", "/p;q:r#s?t=%41%25zz%254"},
      {"caf\xc3\xa9\t\x7f", "caf%C3%A9%09%7F"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CanonicalUrl(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace tamsolo

#include <gtest/gtest.h>

#include "common/key_string.h"

namespace tamsolo::keys {
namespace {

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(KeyString, CompilesToKeyDownUpAndWaitEvents) {
  const std::string tab = "9d 9u";
  const std::string abc = "65d 65u 66d 66u 67d 67u";
  struct Case {
    std::string keys, events;
  } cases[] = {
      {"+(abc)", "16d " + abc + " 16u"},
      // The nested string starts with SHIFT not held, so the capital presses it again.
      {"+(aBc)", "16d 65d 65u 16d 66d 66u 16u 67d 67u 16u"},
      {"^a", "17d 65d 65u 17u"},
      {"^{F4}", "17d 115d 115u 17u"},
      {"{TAB 3}", tab + " " + tab + " " + tab},
      {"{TAB 0}", tab},
      {"{TAB x}", tab},
      {"{}}", "16d 221d 221u 16u"},
      {"{TAB}}", "16d 221d 221u 16u"},
      {"}", "221d 221u"},
      {"~", "13d 13u"},
      {"{NEWLINE}", "13d 13u 10d 10u"},
      {"{abc 3}", abc + " " + abc + " " + abc},
      {"{PRTSC}", "42d 42u"},
      {"{SLEEP 2}", "w2000"},
      {"a1;'", "65d 65u 49d 49u 186d 186u 222d 222u"},
      {"A!{%}", "16d 65d 65u 16u 16d 49d 49u 16u 16d 53d 53u 16u"},
      {"%{F24}{numpad+}", "18d 135d 135u 18u 107d 107u"},
      // Mends: a modifier at the end sends nothing; a character outside the key map is typed as
      // text (key code 0); a repeat above 1,000 counts as 1,000.
      {"%", ""},
      {"a+", "65d 65u"},
      {"\xC3\xA9", "0d 0u"},
      {"{SLEEP 5000}", "w1000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(EventsText(CompileKeys(c.keys)), c.events) << c.keys;
  EXPECT_EQ(CompileKeys("{TAB 5000}").size(), 2000u);
  EXPECT_EQ(CompileKeys("\xC3\xA9")[0].text, "\xC3\xA9");
  // 1,023 characters are sent, 1,024 nothing (characters, not bytes).
  EXPECT_EQ(CompileKeys(Repeat("a", 1023)).size(), 2046u);
  EXPECT_TRUE(CompileKeys(Repeat("a", 1024)).empty());
  EXPECT_EQ(CompileKeys(Repeat("\xC3\xA9", 1023)).size(), 2046u);
}

TEST(KeyString, StrokesNameTheKeysWithTheHeldModifiersAndWhatTheyType) {
  std::string seen;
  for (const KeyStroke& s : Strokes(CompileKeys("+(ab){TAB}x^c}"))) {
    if (s.action != KeyAction::Down) continue;
    seen += s.key + "/" + s.code + "/" + std::to_string(s.keyCode) + (s.shift ? "S" : "") + (s.ctrl ? "C" : "") +
            "[" + s.text + "] ";
  }
  EXPECT_EQ(seen,
            "Shift/ShiftLeft/16S[] A/KeyA/65S[A] B/KeyB/66S[B] Tab/Tab/9[] x/KeyX/88[x] Control/ControlLeft/17C[] "
            "c/KeyC/67C[c] ]/BracketRight/221[]] ");
}

}  // namespace
}  // namespace tamsolo::keys

#include "common/key_string.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

namespace tamsolo::keys {

namespace {

using Chars = std::vector<std::string_view>;  // one UTF-8 character each

Chars SplitChars(std::string_view s) {
  Chars out;
  for (size_t i = 0; i < s.size();) {
    size_t n = 1;
    while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

struct NamedKey {
  std::string_view name;
  int keyCode;
};

constexpr std::array<NamedKey, 57> kNamedKeys{{
    {"BACKSPACE", 8}, {"BS", 8}, {"BKSP", 8}, {"BELL", 7}, {"BREAK", 3}, {"CAPSLOCK", 20}, {"CAPS", 20},
    {"DELETE", 46}, {"DEL", 46}, {"DOWN", 40}, {"END", 35}, {"ENTER", 13}, {"RETURN", 13},
    {"ESCAPE", 27}, {"ESC", 27}, {"FF", 12}, {"HELP", 47}, {"HOME", 36}, {"INSERT", 45}, {"INS", 45},
    {"LEFT", 37}, {"LINEFEED", 10}, {"LF", 10}, {"NUMLOCK", 144}, {"PGDN", 34}, {"PAGEDOWN", 34},
    {"NEXT", 34}, {"PGUP", 33}, {"PAGEUP", 33}, {"PRIOR", 33}, {"PRINTSCREEN", 42}, {"PRTSC", 42},
    {"RIGHT", 39}, {"SCROLLLOCK", 145}, {"SCRLK", 145}, {"TAB", 9}, {"UP", 38},
    {"NUMPADMULTIPLY", 106}, {"NUMPAD*", 106}, {"NUMPADADD", 107}, {"NUMPAD+", 107},
    {"NUMPADSUBTRACT", 109}, {"NUMPAD-", 109}, {"NUMPADDECIMAL", 110}, {"NUMPAD.", 110},
    {"NUMPADDIVIDE", 111}, {"NUMPAD/", 111}, {"NUMPAD0", 96}, {"NUMPAD1", 97}, {"NUMPAD2", 98},
    {"NUMPAD3", 99}, {"NUMPAD4", 100}, {"NUMPAD5", 101}, {"NUMPAD6", 102}, {"NUMPAD7", 103},
    {"NUMPAD8", 104}, {"NUMPAD9", 105},
}};

// Names of one character that type it with SHIFT.
constexpr std::string_view kShiftedNames = "~!@#$%^&*()_+|{}\":?><";
// Characters the string itself types with SHIFT (besides the capitals).
constexpr std::string_view kShiftedChars = "!@#$&*()_|\":?><";

std::optional<int> NamedKeyCode(std::string_view upper) {
  for (const NamedKey& k : kNamedKeys)
    if (k.name == upper) return k.keyCode;
  if (upper.size() >= 2 && upper.size() <= 3 && upper[0] == 'F') {
    int n = 0;
    auto [end, ec] = std::from_chars(upper.data() + 1, upper.data() + upper.size(), n);
    if (ec == std::errc() && end == upper.data() + upper.size() && n >= 1 && n <= 24) return 111 + n;
  }
  return std::nullopt;
}

// The repeat count after a name's first blank: missing, not a number or not positive gives 1,
// and more than kMaxRepeat counts as kMaxRepeat.
int RepeatCount(std::string_view rest) {
  long long n = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
  if (ec == std::errc::result_out_of_range && end != rest.data()) return kMaxRepeat;
  if (ec != std::errc() || n < 1) return 1;
  return static_cast<int>(std::min<long long>(n, kMaxRepeat));
}

class Sender {
 public:
  explicit Sender(std::vector<KeyEvent>& out) : out_(out) {}

  void String(const Chars& s);

 private:
  void Key(int code) {
    out_.push_back({KeyAction::Down, code, "", 0});
    out_.push_back({KeyAction::Up, code, "", 0});
  }
  void Char(std::string_view c) {
    if (std::optional<KeyScan> scan = ScanOf(c)) return Key(scan->keyCode);
    // Outside the key map: typed as the text itself.
    out_.push_back({KeyAction::Down, 0, std::string(c), 0});
    out_.push_back({KeyAction::Up, 0, std::string(c), 0});
  }
  void Shifted(std::string_view c) {
    if (shift_) return Char(c);
    out_.push_back({KeyAction::Down, kShift, "", 0});
    Char(c);
    out_.push_back({KeyAction::Up, kShift, "", 0});
  }
  void Press(int code, bool& held) {
    if (!held) out_.push_back({KeyAction::Down, code, "", 0});
    held = true;
  }
  void Release(int code, bool& held) {
    out_.push_back({KeyAction::Up, code, "", 0});
    held = false;
  }
  void Name(const Chars& text);
  size_t Modifier(const Chars& s, size_t i);

  std::vector<KeyEvent>& out_;
  bool shift_ = false, ctrl_ = false, alt_ = false;
};

std::string Join(const Chars& s, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to && i < s.size(); ++i) out += s[i];
  return out;
}

void Sender::Name(const Chars& text) {
  std::string all = Join(text, 0, text.size());
  const size_t blank = all.find(' ');
  const int n = blank == std::string::npos ? 1 : RepeatCount(std::string_view(all).substr(blank + 1));
  const std::string name = all.substr(0, blank);
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (upper == "SLEEP") {
    out_.push_back({KeyAction::Wait, 0, "", n * 1000});
    return;
  }
  const std::optional<int> code = NamedKeyCode(upper);
  const bool shiftedName = name.size() == 1 && kShiftedNames.find(name[0]) != std::string_view::npos;
  const Chars nested = SplitChars(name);
  for (int r = 0; r < n; ++r) {
    if (upper == "NEWLINE" || upper == "NL") {
      Key(13);
      Key(10);
    } else if (code) {
      Key(*code);
    } else if (shiftedName) {
      Shifted(name);
    } else {
      String(nested);
    }
  }
}

// "+", "^" or "%" at i, with something after it; the position after what it applied to.
size_t Sender::Modifier(const Chars& s, size_t i) {
  const std::string_view m = s[i];
  const int code = m == "+" ? kShift : m == "^" ? kControl : kAlt;
  bool& held = m == "+" ? shift_ : m == "^" ? ctrl_ : alt_;
  const std::string_view next = s[i + 1];
  if (next == "(" || next == "{") {
    const std::string_view close = next == "(" ? ")" : "}";
    Chars group;
    size_t j = i + 2;
    for (int depth = 1; j < s.size(); ++j) {
      if (s[j] == next) {
        ++depth;
      } else if (s[j] == close && --depth == 0) {
        ++j;
        break;
      }
      if (s[j] != close) group.push_back(s[j]);
    }
    Press(code, held);
    if (next == "(") {
      String(group);
    } else {
      Name(group);
    }
    Release(code, held);
    return j;
  }
  if (code == kShift) {
    Shifted(next);
  } else {
    Press(code, held);
    Char(next);
    Release(code, held);
  }
  return i + 2;
}

void Sender::String(const Chars& s) {
  if (s.size() >= kMaxKeyString) return;
  shift_ = ctrl_ = alt_ = false;
  for (size_t i = 0; i < s.size();) {
    const std::string_view c = s[i];
    if (c == "+" || c == "^" || c == "%") {
      // A modifier with nothing after it applies to nothing.
      if (i + 1 == s.size()) break;
      i = Modifier(s, i);
    } else if (c == "{") {
      size_t j = i + 1;
      while (j < s.size() && s[j] != "}") ++j;
      if (j + 1 < s.size() && s[j + 1] == "}") {
        Shifted("}");
        i = j + 2;
      } else {
        // Unclosed at the end: the name is what came before the string's last character.
        Name(Chars(s.begin() + static_cast<ptrdiff_t>(i + 1),
                   s.begin() + static_cast<ptrdiff_t>(j < s.size() ? j : std::max(i + 1, s.size() - 1))));
        i = j + 1;
      }
    } else if (c == "~") {
      Name(SplitChars("ENTER"));
      ++i;
    } else {
      const bool capital = c.size() == 1 && c[0] >= 'A' && c[0] <= 'Z';
      if (capital || (c.size() == 1 && kShiftedChars.find(c[0]) != std::string_view::npos)) {
        Shifted(c);
      } else {
        Char(c);
      }
      ++i;
    }
  }
  if (shift_) Release(kShift, shift_);
  if (ctrl_) Release(kControl, ctrl_);
  if (alt_) Release(kAlt, alt_);
}

// US keyboard punctuation: the unshifted and the shifted character of each key.
struct PunctuationKey {
  int keyCode;
  char plain, shifted;
};
constexpr std::array<PunctuationKey, 11> kPunctuation{{{186, ';', ':'},
                                                       {187, '=', '+'},
                                                       {188, ',', '<'},
                                                       {189, '-', '_'},
                                                       {190, '.', '>'},
                                                       {191, '/', '?'},
                                                       {192, '`', '~'},
                                                       {219, '[', '{'},
                                                       {220, '\\', '|'},
                                                       {221, ']', '}'},
                                                       {222, '\'', '"'}}};
constexpr std::string_view kShiftedDigits = ")!@#$%^&*(";

}  // namespace

std::vector<KeyEvent> CompileKeys(std::string_view keys) {
  std::vector<KeyEvent> out;
  Sender(out).String(SplitChars(keys));
  return out;
}

std::string EventsText(const std::vector<KeyEvent>& events) {
  std::string out;
  for (const KeyEvent& e : events) {
    if (!out.empty()) out += ' ';
    if (e.action == KeyAction::Wait) {
      out += "w" + std::to_string(e.ms);
    } else {
      out += std::to_string(e.keyCode) + (e.action == KeyAction::Down ? "d" : "u");
    }
  }
  return out;
}

std::optional<KeyScan> ScanOf(std::string_view character) {
  if (character.size() != 1) return std::nullopt;
  const char c = character[0];
  if (c >= 'a' && c <= 'z') return KeyScan{c - 'a' + 65, false};
  if (c >= 'A' && c <= 'Z') return KeyScan{c - 'A' + 65, true};
  if (c >= '0' && c <= '9') return KeyScan{c, false};
  if (size_t d = kShiftedDigits.find(c); d != std::string_view::npos) return KeyScan{static_cast<int>('0' + d), true};
  for (const PunctuationKey& k : kPunctuation) {
    if (c == k.plain) return KeyScan{k.keyCode, false};
    if (c == k.shifted) return KeyScan{k.keyCode, true};
  }
  switch (c) {
    case ' ': return KeyScan{32, false};
    case '\t': return KeyScan{9, false};
    case '\r':
    case '\n': return KeyScan{13, false};
    case '\b': return KeyScan{8, false};
    case '\x1b': return KeyScan{27, false};
    default: return std::nullopt;
  }
}

}  // namespace tamsolo::keys

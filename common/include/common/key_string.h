// Key strings ("+(abc){TAB}x", "^{F4}", "{SLEEP 2}") compiled into key-down, key-up and wait
// events, and the en-US keyboard they are typed on: which virtual key and SHIFT state types a
// character, and what a key is called and types in a page's KeyboardEvent.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsolo::keys {

inline constexpr int kShift = 16, kControl = 17, kAlt = 18;
inline constexpr size_t kMaxKeyString = 1024;  // a string of this many characters sends nothing
inline constexpr int kMaxRepeat = 1000;

enum class KeyAction { Down, Up, Wait };

struct KeyEvent {
  KeyAction action;
  int keyCode = 0;   // virtual key; 0 for a character outside the key map
  std::string text;  // that character (keyCode 0 only)
  int ms = 0;        // Wait only
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

std::vector<KeyEvent> CompileKeys(std::string_view keys);
// "16d 65d 65u 16u", a wait as "w2000", a character outside the map as "0d" / "0u".
std::string EventsText(const std::vector<KeyEvent>& events);

// The en-US stand-in for the system's key scan: the key that types `character` (one UTF-8
// character) and whether SHIFT is part of it; nullopt outside the map.
struct KeyScan {
  int keyCode;
  bool shift;
};
std::optional<KeyScan> ScanOf(std::string_view character);

// A key as a page's KeyboardEvent names it, with the held modifiers and what it types.
struct KeyStroke {
  KeyAction action;
  std::string key;   // "a", "A", "Tab", "Shift", "F4"
  std::string code;  // "KeyA", "Tab", "ShiftLeft"
  int keyCode = 0;
  bool shift = false, ctrl = false, alt = false;
  std::string text;  // the character a key-down types under the held SHIFT; empty for none
  int ms = 0;
};
// The events as typed: modifiers held from their key-down to their key-up.
std::vector<KeyStroke> Strokes(const std::vector<KeyEvent>& events);

}  // namespace tamsolo::keys

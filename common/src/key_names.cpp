// What the keys of the key strings are called in a page's KeyboardEvent (key and code) and what
// they type, on an en-US keyboard.
#include <array>

#include "common/key_string.h"

namespace tamsolo::keys {

namespace {

struct KeyName {
  int keyCode;
  std::string_view key, code;
};

constexpr std::array<KeyName, 32> kKeyNames{{
    {3, "Cancel", "Pause"},        {7, "Unidentified", ""},      {8, "Backspace", "Backspace"},
    {9, "Tab", "Tab"},             {10, "Unidentified", ""},     {12, "Clear", "NumpadClear"},
    {13, "Enter", "Enter"},        {16, "Shift", "ShiftLeft"},   {17, "Control", "ControlLeft"},
    {18, "Alt", "AltLeft"},        {20, "CapsLock", "CapsLock"}, {27, "Escape", "Escape"},
    {32, " ", "Space"},            {33, "PageUp", "PageUp"},     {34, "PageDown", "PageDown"},
    {35, "End", "End"},            {36, "Home", "Home"},         {37, "ArrowLeft", "ArrowLeft"},
    {38, "ArrowUp", "ArrowUp"},    {39, "ArrowRight", "ArrowRight"}, {40, "ArrowDown", "ArrowDown"},
    {42, "PrintScreen", "PrintScreen"}, {45, "Insert", "Insert"}, {46, "Delete", "Delete"},
    {47, "Help", "Help"},          {106, "*", "NumpadMultiply"}, {107, "+", "NumpadAdd"},
    {109, "-", "NumpadSubtract"},  {110, ".", "NumpadDecimal"},  {111, "/", "NumpadDivide"},
    {144, "NumLock", "NumLock"},   {145, "ScrollLock", "ScrollLock"},
}};

struct PunctuationCode {
  int keyCode;
  std::string_view code;
  char plain, shifted;
};
constexpr std::array<PunctuationCode, 11> kPunctuation{{{186, "Semicolon", ';', ':'},
                                                        {187, "Equal", '=', '+'},
                                                        {188, "Comma", ',', '<'},
                                                        {189, "Minus", '-', '_'},
                                                        {190, "Period", '.', '>'},
                                                        {191, "Slash", '/', '?'},
                                                        {192, "Backquote", '`', '~'},
                                                        {219, "BracketLeft", '[', '{'},
                                                        {220, "Backslash", '\\', '|'},
                                                        {221, "BracketRight", ']', '}'},
                                                        {222, "Quote", '\'', '"'}}};
constexpr std::string_view kShiftedDigits = ")!@#$%^&*(";

// The character a key types (empty for none) and its code, under SHIFT or not.
void Printable(int keyCode, bool shift, std::string& text, std::string& code) {
  if (keyCode >= 65 && keyCode <= 90) {
    text = std::string(1, static_cast<char>((shift ? 'A' : 'a') + keyCode - 65));
    code = "Key" + std::string(1, static_cast<char>('A' + keyCode - 65));
  } else if (keyCode >= 48 && keyCode <= 57) {
    text = std::string(1, shift ? kShiftedDigits[keyCode - 48] : static_cast<char>(keyCode));
    code = "Digit" + std::string(1, static_cast<char>(keyCode));
  } else if (keyCode >= 96 && keyCode <= 105) {
    text = std::string(1, static_cast<char>('0' + keyCode - 96));
    code = "Numpad" + text;
  } else if (keyCode >= 112 && keyCode <= 135) {
    code = "F" + std::to_string(keyCode - 111);
  } else {
    for (const PunctuationCode& p : kPunctuation)
      if (p.keyCode == keyCode) {
        text = std::string(1, shift ? p.shifted : p.plain);
        code = std::string(p.code);
      }
  }
}

KeyStroke StrokeOf(const KeyEvent& e, bool shift, bool ctrl, bool alt) {
  KeyStroke s{e.action, "", "", e.keyCode, shift, ctrl, alt, "", e.ms};
  if (e.action == KeyAction::Wait) return s;
  if (e.keyCode == 0) {
    s.key = s.text = e.text;
  } else {
    Printable(e.keyCode, shift, s.text, s.code);
    s.key = s.text.empty() ? s.code : s.text;
    for (const KeyName& k : kKeyNames)
      if (k.keyCode == e.keyCode) {
        s.key = std::string(k.key);
        s.code = std::string(k.code);
        // The space bar and the number pad's operators type their character.
        if (k.key.size() == 1) s.text = s.key;
      }
    if (s.key.empty()) s.key = "Unidentified";
  }
  if (e.action == KeyAction::Up) s.text.clear();
  return s;
}

}  // namespace

std::vector<KeyStroke> Strokes(const std::vector<KeyEvent>& events) {
  std::vector<KeyStroke> out;
  bool shift = false, ctrl = false, alt = false;
  for (const KeyEvent& e : events) {
    // A modifier's own key-down already has it held; its key-up no longer.
    const bool down = e.action == KeyAction::Down;
    if (e.keyCode == kShift && e.action != KeyAction::Wait) shift = down;
    if (e.keyCode == kControl && e.action != KeyAction::Wait) ctrl = down;
    if (e.keyCode == kAlt && e.action != KeyAction::Wait) alt = down;
    out.push_back(StrokeOf(e, shift, ctrl, alt));
  }
  return out;
}

}  // namespace tamsolo::keys

// Buffer: the string builder of the renderers and of message composing. Appends go into a block of
// 65,526 characters; a text that does not fit spills the block, with the text, into the overflow.
// Clear empties the block only: text already spilled stays.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "automation/text.h"

namespace brisquel {

class Buffer {
 public:
  static constexpr size_t kBlockSize = 65526;  // characters

  Buffer() = default;
  void SetAutoCrLf(bool on) { autoCrLf_ = on; }
  void Clear();
  void Append(std::string_view text);
  std::string Text() const;  // the Buffer property

  size_t BlockLength() const { return blockChars_; }  // characters in the block

 private:
  std::string block_;
  size_t blockChars_ = 0;
  std::string overflow_;
  bool autoCrLf_ = false;
};

// Number of characters (code points) of a UTF-8 text.
using automation::CharLength;

}  // namespace brisquel

#include "core/buffer.h"

#include "core/error_protocol.h"

namespace brisquel {

void Buffer::Clear() {
  block_.clear();
  blockChars_ = 0;
}

void Buffer::Append(std::string_view text) {
  size_t n = CharLength(text) + (autoCrLf_ ? 2 : 0);
  // The write position is one past the block's content; the text fits while position + length
  // stays within the block's size.
  if (blockChars_ + 1 + n <= kBlockSize) {
    block_.append(text);
    if (autoCrLf_) block_.append("\r\n");
    blockChars_ += n;
    return;
  }
  overflow_.append(block_);
  overflow_.append(text);
  if (autoCrLf_) overflow_.append("\r\n");
  Clear();
}

std::string Buffer::Text() const {
  return Procedure("Buffer", "Get_Buffer", [&] { return overflow_.empty() ? block_ : overflow_ + block_; });
}

}  // namespace brisquel

#include "ado/stream.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ado/errors.h"
#include "automation/text.h"
#include "engine.h"

namespace ado {

using automation::Variant;

namespace {
constexpr const char* kSource = "ADODB.Stream";
}

void Stream::RequireOpen() const {
  if (!open_) Raise(err::kObjectClosed, kSource);
}

void Stream::Open(const Variant& source, int32_t /*mode*/, int32_t /*options*/, const std::string& /*user*/,
                  const std::string& /*password*/) {
  if (open_) Raise(err::kObjectOpen, kSource);
  if (!source.IsMissing() && !source.IsEmpty() && !(source.IsString() && source.StringIf()->empty()))
    Raise(err::kNotSupported, kSource, "A stream is opened empty; load files with LoadFromFile.");
  data_.clear();
  pos_ = 0;
  open_ = true;
}

void Stream::Close() {
  RequireOpen();
  open_ = false;
  data_.clear();
  pos_ = 0;
}

void Stream::SetType(int32_t t) {
  if (t != adTypeBinary && t != adTypeText) Raise(err::kInvalidArgument, kSource);
  if (open_ && pos_ != 0) Raise(err::kIllegalOperation, kSource);
  type_ = t;
}

void Stream::SetCharset(const std::string& c) {
  if (!automation::EqualsNoCase(c, "utf-8") && !automation::EqualsNoCase(c, "us-ascii") &&
      !automation::EqualsNoCase(c, "ascii"))
    Raise(err::kNotSupported, kSource, "Only UTF-8 text is supported.");
  charset_ = c;
}

int32_t Stream::Position() const {
  RequireOpen();
  return static_cast<int32_t>(pos_);
}

void Stream::SetPosition(int32_t p) {
  RequireOpen();
  if (p < 0 || static_cast<size_t>(p) > data_.size()) Raise(err::kInvalidArgument, kSource);
  pos_ = static_cast<size_t>(p);
}

int32_t Stream::Size() const {
  RequireOpen();
  return static_cast<int32_t>(data_.size());
}

bool Stream::EOS() const {
  RequireOpen();
  return pos_ >= data_.size();
}

void Stream::SetEOS() {
  RequireOpen();
  data_.resize(pos_);
}

void Stream::WriteBytes(const uint8_t* data, size_t size) {
  RequireOpen();
  if (pos_ + size > data_.size()) data_.resize(pos_ + size);
  std::copy(data, data + size, data_.begin() + static_cast<std::ptrdiff_t>(pos_));
  pos_ += size;
}

void Stream::Write(const std::vector<uint8_t>& bytes) {
  RequireOpen();
  if (type_ != adTypeBinary) Raise(err::kIllegalOperation, kSource);
  WriteBytes(bytes.data(), bytes.size());
}

std::vector<uint8_t> Stream::ReadRest() {
  RequireOpen();
  std::vector<uint8_t> out(data_.begin() + static_cast<std::ptrdiff_t>(pos_), data_.end());
  pos_ = data_.size();
  return out;
}

std::vector<uint8_t> Stream::Read(int32_t numBytes) {
  RequireOpen();
  if (type_ != adTypeBinary) Raise(err::kIllegalOperation, kSource);
  if (numBytes < 0) return ReadRest();
  size_t n = std::min(static_cast<size_t>(numBytes), data_.size() - pos_);
  std::vector<uint8_t> out(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                           data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
  pos_ += n;
  return out;
}

void Stream::WriteText(const std::string& text, int32_t options) {
  RequireOpen();
  if (type_ != adTypeText) Raise(err::kIllegalOperation, kSource);
  WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (options == 1) WriteBytes(reinterpret_cast<const uint8_t*>("\r\n"), 2);  // adWriteLine
}

std::string Stream::ReadText(int32_t numChars) {
  RequireOpen();
  if (type_ != adTypeText) Raise(err::kIllegalOperation, kSource);
  std::string_view rest(reinterpret_cast<const char*>(data_.data()) + pos_, data_.size() - pos_);
  // Characters, not bytes: a character is never cut in two.
  if (numChars >= 0) rest = automation::HeadChars(rest, static_cast<size_t>(numChars));
  pos_ += rest.size();
  return std::string(rest);
}

void Stream::SaveToFile(const std::string& path, int32_t options) {
  RequireOpen();
  // 1: create only (refuse to overwrite); 2: create or overwrite.
  if (options != 2 && std::filesystem::exists(path))
    Raise(3004, kSource, "Write to file failed: the file exists.");
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
  if (!f) Raise(3004, kSource, "Write to file failed.");
}

void Stream::LoadFromFile(const std::string& path) {
  RequireOpen();
  std::ifstream f(path, std::ios::binary);
  if (!f) Raise(3002, kSource, "File could not be opened.");
  std::ostringstream ss;
  ss << f.rdbuf();
  std::string s = ss.str();
  data_.assign(s.begin(), s.end());
  pos_ = 0;
}

namespace {

automation::Register<Stream> reg("Stream", "ADODB.Stream", [](auto& c) {
  Variant missing = Variant::Missing();
  c.Method("Open", &Stream::Open, {missing, Variant(0), Variant(-1), Variant(""), Variant("")});
  c.Method("Close", &Stream::Close);
  c.Property("State", &Stream::State);
  c.Property("Type", &Stream::Type, &Stream::SetType);
  c.Property("Charset", &Stream::Charset, &Stream::SetCharset);
  c.Property("Position", &Stream::Position, &Stream::SetPosition);
  c.Property("Size", &Stream::Size);
  c.Property("EOS", &Stream::EOS);
  c.Method("SetEOS", &Stream::SetEOS);
  c.Method("Write", &Stream::Write);
  c.Method("Read", &Stream::Read, {Variant(-1)});
  c.Method("WriteText", &Stream::WriteText, {Variant(0)});
  c.Method("ReadText", &Stream::ReadText, {Variant(-1)});
  c.Method("SaveToFile", &Stream::SaveToFile, {Variant(1)});
  c.Method("LoadFromFile", &Stream::LoadFromFile);
  c.Method("Flush", &Stream::Flush);
});

}  // namespace

}  // namespace ado

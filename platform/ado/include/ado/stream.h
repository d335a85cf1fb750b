// Stream: bytes (or text) in memory with a position, as the recordset images are carried.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ado/types.h"
#include "automation/automation.h"

namespace ado {

class Stream : public automation::Dispatchable<Stream> {
 public:
  // Only an empty stream can be opened (no source).
  void Open(const automation::Variant& source, int32_t mode, int32_t options, const std::string& user,
            const std::string& password);
  void Close();
  int32_t State() const { return open_ ? adStateOpen : adStateClosed; }

  int32_t Type() const { return type_; }
  void SetType(int32_t t);
  const std::string& Charset() const { return charset_; }
  void SetCharset(const std::string& c);
  int32_t Position() const;
  void SetPosition(int32_t p);
  int32_t Size() const;
  bool EOS() const;
  void SetEOS();

  void Write(const std::vector<uint8_t>& bytes);
  // numBytes -1: the rest of the stream.
  std::vector<uint8_t> Read(int32_t numBytes = -1);
  void WriteText(const std::string& text, int32_t options = 0);
  std::string ReadText(int32_t numChars = -1);
  void SaveToFile(const std::string& path, int32_t options = 1);
  void LoadFromFile(const std::string& path);
  void Flush() {}

  // Typed API: the key that signs the recordset images saved into / opened from this stream.
  void SetSigningKey(std::string key) { key_ = std::move(key); }
  const std::string& SigningKey() const { return key_; }
  void WriteBytes(const uint8_t* data, size_t size);
  // The bytes from the position to the end; the position moves to the end.
  std::vector<uint8_t> ReadRest();

 private:
  void RequireOpen() const;
  bool open_ = false;
  int32_t type_ = adTypeText;
  std::string charset_ = "utf-8";
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  std::string key_;
};

}  // namespace ado

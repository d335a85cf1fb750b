// Posted form bodies come straight from the network: whatever the bytes, decoding either fills the
// collections or fails with a ComError; it never crashes, hangs or reads past the body.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "automation/automation.h"
#include "core/multipart.h"
#include "eventlog/eventlog.h"

namespace {

// The error protocol logs every failure; the fuzzer would otherwise flood syslog.
class DiscardSink : public eventlog::Sink {
 public:
  void Write(const eventlog::Event&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    eventlog::SetSink(std::make_shared<DiscardSink>());
    return true;
  }();
  (void)quiet;

  using automation::Variant;
  std::vector<uint8_t> body(data, data + size);
  auto form = std::make_shared<brisquel::MultipartFormData>();
  try {
    form->SetBinaryData(Variant::Bytes(body));
  } catch (const automation::ComError&) {
    // A malformed body: the parts decoded before the fault are still read below.
  }
  if (form->BinaryData().ToBytes() != body) __builtin_trap();

  // Read everything back as a page would; decoded data can never outgrow the body.
  size_t total = 0;
  auto fields = form->Fields();
  for (int32_t i = 1; i <= fields->Count(); ++i) (void)fields->Item(Variant(i));
  for (const auto& f : *fields) {
    for (const auto& v : f.values) total += v.size();
    if (fields->Find(f.name) == nullptr) __builtin_trap();
  }
  auto e = fields->NewEnum();
  std::vector<Variant> args{Variant()};
  while (e->Call("Next", args).ToBool()) {
  }
  auto files = form->Files();
  for (const auto& file : *files) {
    total += file->Bytes().size() + file->Filename().size();
    (void)files->Item(Variant(file->Filename()));
    (void)file->MimeType();
  }
  if (total > size) __builtin_trap();
  return 0;
}

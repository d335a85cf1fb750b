// rsFromXml takes escaped text from a page: whatever the text, it gives a recordset or fails with
// a ComError through the error protocol; it never crashes or reads past the text. The input is
// tried as escaped text, and (signed, then escaped) as an image body so the reader is reached.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ado/ado.h"
#include "automation/automation.h"
#include "core/conversions.h"
#include "core/database.h"
#include "core/recordset_persistence.h"
#include "eventlog/eventlog.h"

namespace {

// The error protocol logs every failure; the fuzzer would otherwise flood syslog.
class DiscardSink : public eventlog::Sink {
 public:
  void Write(const eventlog::Event&) override {}
};

brisquel::Database& Site() {
  static std::shared_ptr<brisquel::Database> db = [] {
    eventlog::SetSink(std::make_shared<DiscardSink>());
    auto d = std::make_shared<brisquel::Database>();
    d->SetConnectionString("Data Source=:memory:");
    return d;
  }();
  return *db;
}

void Walk(const std::shared_ptr<ado::Recordset>& rs) {
  if (!rs) return;
  int32_t seen = 0;
  while (!rs->IsEOF()) {
    ++seen;
    for (size_t i = 0; i < rs->FieldCount(); ++i) (void)rs->Value(i);
    rs->MoveNext();
  }
  if (seen != rs->RecordCount()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brisquel::Database& db = Site();
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    Walk(brisquel::RsFromXml(db, text));
  } catch (const automation::ComError&) {
  }
  try {
    std::string secret = db.Connection().SiteSecret();
    auto sealed = ado::Recordset::SealImage(std::vector<uint8_t>(data, data + size), secret);
    std::string escaped = brisquel::EncodeByteArray(sealed);
    if (brisquel::DecodeByteArray(escaped) != sealed) __builtin_trap();
    Walk(brisquel::RsFromXml(db, escaped));
  } catch (const automation::ComError&) {
  }
  return 0;
}

// Recordset images come back from browsers and pages: whatever the bytes, opening one either gives
// a recordset or fails with a ComError; it never crashes or reads past the image. The input is an
// unsigned image that the target signs itself, so the reader's body parsing is reached (raw
// input, which fails the signature, is tried as well).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ado/recordset.h"
#include "automation/automation.h"

namespace {

constexpr std::string_view kKey = "fuzzing key, not a site secret";

void Exercise(ado::Recordset& rs) {
  size_t n = rs.FieldCount();
  int32_t count = rs.RecordCount();
  int32_t seen = 0;
  if (!rs.IsEOF()) rs.MoveFirst();
  while (!rs.IsEOF()) {
    ++seen;
    for (size_t i = 0; i < n; ++i) {
      try {
        (void)rs.Value(i).ToString();
        (void)rs.OriginalValue(i);
        (void)rs.FieldStatus(i);
      } catch (const automation::ComError&) {
        // A value without a text form (Null) is fine.
      }
    }
    rs.MoveNext();
  }
  if (seen != count) __builtin_trap();
  // What was read can be saved and read again.
  auto again = ado::Recordset::OpenImage(rs.SaveImage(kKey), kKey);
  if (again->RecordCount() != count || again->FieldCount() != n) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto rs = ado::Recordset::OpenImage(data, size, kKey);
    Exercise(*rs);
  } catch (const automation::ComError&) {
  }
  try {
    auto sealed = ado::Recordset::SealImage(std::vector<uint8_t>(data, data + size), kKey);
    auto rs = ado::Recordset::OpenImage(sealed, kKey);
    Exercise(*rs);
  } catch (const automation::ComError&) {
  }
  return 0;
}

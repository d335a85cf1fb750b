#include "core/trace.h"

#include "core/error_protocol.h"
#include "eventlog/eventlog.h"
#include "registry/registry.h"

namespace brisquel {

VTLLogging::VTLLogging() {
  try {
    std::string value = registry::RegRead("HKLM\\software\\Vantrel Ltd.\\Vantrel\\LogDetailLevel");
    logDetailLevel_ = automation::Variant(value).ToLong();
  } catch (...) {
    logDetailLevel_ = 0;
  }
}

void VTLLogging::Trace(int32_t msgDetailLevel, const std::string& msg) {
  if (msgDetailLevel > logDetailLevel_) return;
  eventlog::Write(eventlog::Type::Information, eventlog::kInformationId, eventlog::kSource, msg);
}

namespace {
automation::Register<VTLLogging> reg("VTLLogging", "Brisquel.VTLLogging", [](auto& c) {
  c.Method("Trace", &VTLLogging::Trace);
  c.Property("LogDetailLevel", &VTLLogging::LogDetailLevel);
});
}  // namespace

}  // namespace brisquel

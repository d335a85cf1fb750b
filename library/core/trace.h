// VTLLogging: trace lines to the event log, gated by the registry's LogDetailLevel.
#pragma once

#include <cstdint>
#include <string>

#include "automation/automation.h"

namespace brisquel {

class VTLLogging : public automation::Dispatchable<VTLLogging> {
 public:
  // Reads LogDetailLevel once; a missing or unreadable value turns tracing off (0).
  VTLLogging();
  // Writes Msg when MsgDetailLevel is at most LogDetailLevel.
  void Trace(int32_t msgDetailLevel, const std::string& msg);
  int32_t LogDetailLevel() const { return logDetailLevel_; }

 private:
  int32_t logDetailLevel_ = 0;
};

}  // namespace brisquel

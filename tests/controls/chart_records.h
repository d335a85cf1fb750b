// What a chart drew on the recording host, without the off-screen surface's framing.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "host/recording_host.h"

namespace tamsolo::testing {

inline std::vector<std::string> Drawn(RecordingHost& host) {
  std::vector<std::string> out;
  for (std::string line : host.drawing.TakeCalls()) {
    if (line.starts_with("CreateSurface") || line.starts_with("Blit")) continue;
    if (line.starts_with("[")) line = line.substr(line.find("] ") + 2);
    out.push_back(line);
  }
  return out;
}

inline bool Has(const std::vector<std::string>& calls, const std::string& line) {
  return std::find(calls.begin(), calls.end(), line) != calls.end();
}

}  // namespace tamsolo::testing

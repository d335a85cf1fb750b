// A control made on a recording host, and what it drew there without the off-screen surface's framing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/recording_host.h"
#include "registration/module.h"

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

// A control made through the module's class factory for `clsid`, or none (and a failure).
inline std::unique_ptr<Control> Created(Host& host, std::string_view clsid) {
  std::shared_ptr<ClassFactory> factory;
  std::unique_ptr<Control> made;
  EXPECT_EQ(DllGetClassObject(clsid, factory), hr::kOk) << clsid;
  EXPECT_EQ(factory ? factory->CreateInstance(host, made) : hr::kFail, hr::kOk) << clsid;
  return made;
}

// The registered controls, a host of the given size and mode, and one control of type C on it.
template <class C>
struct Hosted {
  RecordingHost host;
  std::unique_ptr<C> control;
  explicit Hosted(gdi::Size size = {}, bool userMode = true) {
    RegisterControls();
    if (size.cx) host.size = size;
    host.userMode = userMode;
    control = std::make_unique<C>(host);
  }
  std::vector<std::string> Paint() {
    host.drawing.TakeCalls();
    control->Paint();
    return Drawn(host);
  }
};

}  // namespace tamsolo::testing

// Catching the error a call raises, for tests of the by-name interface and the error protocol.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "automation/automation.h"

namespace testsupport {

// The error `f` raises; a test failure (and an empty error) when it raises none.
inline automation::ComError ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const automation::ComError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return {};
}

// The number of the error `f` raises, 0 when it raises none.
inline int32_t ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const automation::ComError& e) {
    return e.number;
  }
  return 0;
}

}  // namespace testsupport

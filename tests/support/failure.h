// The message of the system exception a piece of code raises, for tests of failures.
#pragma once

#include <functional>
#include <string>

#include "imaging/exception.h"

namespace quorvex::testing {

// Runs body and returns the message of the exception it raises ("" when it raises none).
inline std::string FailureOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace quorvex::testing

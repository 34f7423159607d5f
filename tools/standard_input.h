// `-` as an input file: the JPEG comes through standard input.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "client/resize_driver.h"

namespace quorvex::tools {

inline bool IsStandardStream(std::string_view name) {
  return name == "-";
}

// The most standard input may bring: the largest array the object takes.
inline constexpr uint64_t kMaxStandardInput = 0x7FFFFFFF;

// All of standard input, read straight into the array the load is given. More than
// kMaxStandardInput bytes stop the reading at once with the load's own message; a failing read
// throws client::DriverError.
std::unique_ptr<client::ByteArray> ReadStandardInput();

}  // namespace quorvex::tools

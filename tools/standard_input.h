// `-` as an input file: the JPEG comes through standard input.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvex::tools {

inline bool IsStandardStream(std::string_view name) {
  return name == "-";
}

// All of standard input, read to its end; throws client::DriverError when the read fails.
std::vector<uint8_t> ReadStandardInput();

}  // namespace quorvex::tools

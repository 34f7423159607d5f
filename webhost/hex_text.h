// Bytes as lowercase hexadecimal text, as digests are written in headers and signatures.
#pragma once

#include <cstddef>
#include <string>

namespace quorvex::webhost {

inline std::string LowerHex(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

}  // namespace quorvex::webhost

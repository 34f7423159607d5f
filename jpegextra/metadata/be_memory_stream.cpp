#include "jpegextra/metadata/be_memory_stream.h"

namespace quorvex {

uint16_t TBEMemoryStream::ReadWord() {
  uint8_t b[2];
  ReadBuffer(b, sizeof b);
  return BigEndian ? static_cast<uint16_t>(b[0] << 8 | b[1])
                   : static_cast<uint16_t>(b[1] << 8 | b[0]);
}

uint32_t TBEMemoryStream::ReadLong() {
  uint8_t b[4];
  ReadBuffer(b, sizeof b);
  return BigEndian ? uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]
                   : uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

}  // namespace quorvex

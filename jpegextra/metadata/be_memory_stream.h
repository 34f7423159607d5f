// An in-memory stream that reads 16- and 32-bit numbers in either byte order.
#pragma once

#include <cstdint>

#include "jpegextra/memory_stream.h"

namespace quorvex {

class TBEMemoryStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;

  // Set for Motorola ("MM") data, high byte first; clear for Intel ("II") data.
  bool BigEndian = false;

  // Read 2 or 4 bytes in the stream's byte order; EReadError when they are not there.
  uint16_t ReadWord();
  uint32_t ReadLong();
};

}  // namespace quorvex

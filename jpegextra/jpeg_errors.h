// Exceptions of the JPEG codec layer.
#pragma once

#include <string>

#include "imaging/errors.h"

namespace quorvex {

// Every failure reported by the JPEG library. The code uses the library's release 6a message
// numbering, whatever library build is linked (see jpegextra/jpeg_message_codes.h).
class EJPEG : public EInvalidGraphic {
 public:
  explicit EJPEG(int code);
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

// Silent cancellation: raised by a progress handler to stop a decode or an encode. The codec
// swallows it (a decode keeps the rows read so far, an encode keeps no data).
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

}  // namespace quorvex

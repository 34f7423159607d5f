// The imaging errors. Every failure inside the system is a quorvex::Exception
// (imaging/exception.h); only the automation layer and the exported entry points turn them into
// result codes.
#pragma once

#include "imaging/exception.h"

namespace quorvex {

// A failure that the image objects detect themselves.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// An operation that the graphic does not allow, such as a row outside the image.
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// The runtime's integer division by zero.
class EDivByZero : public Exception {
 public:
  EDivByZero() : Exception("Division by zero") {}
};

// Memory exhausted, or a raster larger than the system will allocate.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
};

}  // namespace quorvex

// Exceptions raised by the metadata layer.
#pragma once

#include <string>

#include "imaging/exception.h"

namespace quorvex {

// The EXIF writer met a value text with fewer items than it counted.
class EExifError : public Exception {
 public:
  EExifError() : Exception("Error in Exif data") {}
};

// A value text that is not the number it has to be.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace quorvex

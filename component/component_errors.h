// Exceptions raised by the component's own code.
#pragma once

#include "imaging/exception.h"

namespace quorvex {

// An automation value of the wrong kind, such as a byte-array argument that holds no array.
class EVariantError : public Exception {
 public:
  EVariantError() : Exception("Invalid argument") {}
};

}  // namespace quorvex

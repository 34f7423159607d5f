// The system's exception classes. Every failure inside the system is one of these; only the
// automation layer and the exported entry points turn them into result codes.
#pragma once

#include <exception>
#include <string>

namespace quorvex {

// Common base: a fixed English message and a help context (0 for the system's own errors).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message, int helpContext = 0)
      : message_(std::move(message)), helpContext_(helpContext) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  int HelpContext() const noexcept { return helpContext_; }

 private:
  std::string message_;
  int helpContext_;
};

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

// The base of the system's exception classes: every subsystem's errors derive from it, so the
// automation layer and the exported entry points catch this one type and turn it into a
// result code.
#pragma once

#include <exception>
#include <string>
#include <utility>

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

}  // namespace quorvex

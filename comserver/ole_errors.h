// Exceptions that carry automation result codes, and the two conversions between exceptions and
// result codes that the automation layer performs.
#pragma once

#include <string>

#include "imaging/exception.h"
#include "platform/winapi.h"

namespace quorvex {

// A failure of the automation runtime's own set-up, such as inconsistent type information.
class EOleError : public Exception {
 public:
  using Exception::Exception;
};

// A failed platform call; carries its result code.
class EOleSysError : public EOleError {
 public:
  EOleSysError(std::string message, HRESULT errorCode, int helpContext = 0)
      : EOleError(std::move(message), helpContext), errorCode_(errorCode) {}
  // The system's message for the code, or "OLE error %.8x".
  explicit EOleSysError(HRESULT errorCode);
  HRESULT ErrorCode() const noexcept { return errorCode_; }

 private:
  HRESULT errorCode_;
};

// A failed call of an automation interface, with the error information its callee published.
class EOleException : public EOleSysError {
 public:
  EOleException(std::string message, HRESULT errorCode, std::string source, std::string helpFile,
                int helpContext)
      : EOleSysError(std::move(message), errorCode, helpContext),
        source_(std::move(source)),
        helpFile_(std::move(helpFile)) {}
  const std::string& Source() const noexcept { return source_; }
  const std::string& HelpFile() const noexcept { return helpFile_; }

 private:
  std::string source_;
  std::string helpFile_;
};

// Writing a registry entry failed.
class EOleRegistrationError : public EOleError {
 public:
  EOleRegistrationError() : EOleError("Error creating system registry entry") {}
};

// Raises EOleSysError for a failed result of a call that must succeed.
void OleCheck(HRESULT result);

// Raises EOleException for a failed automation call, built from the calling thread's error
// information: its description without trailing blanks, control characters and full stops.
[[noreturn]] void RaiseFailedCall(HRESULT result);

// Raises the exception now being handled again as the failure of a nested automation call: the
// result code and message the automation layer gives it, the message without trailing blanks,
// control characters and full stops. Call only inside a catch.
[[noreturn]] void RaiseAsNestedCallFailure();

// The error result for the exception now being handled, with error information published on
// the calling thread (GUID, source, description, help context). Call only inside a catch.
HRESULT HandleSafeCallException(REFIID errorInterface, const std::string& progId) noexcept;

// The text for a result code: the system's message, or "OLE error %.8x".
std::string SystemMessage(HRESULT result);

}  // namespace quorvex

#include "tools/failure_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "client/resize_driver.h"

namespace quorvex::tools {

namespace {

constexpr std::string_view kCannotWrite = "Cannot write file: ";

// The reason the last call left, else what the name is when it is no file to write at all.
int Reason(const client::ObjectError& failure, const std::string& name) {
  if (failure.systemError() != 0) return failure.systemError();
  struct stat status {};
  if (::stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return EISDIR;
  return 0;
}

}  // namespace

std::string FailureText(const std::exception& failure) {
  std::string text = failure.what();
  const auto* object = dynamic_cast<const client::ObjectError*>(&failure);
  if (object == nullptr || !text.starts_with(kCannotWrite)) return text;
  if (const int reason = Reason(*object, text.substr(kCannotWrite.size())); reason != 0)
    text += std::string(": ") + std::strerror(reason);
  return text;
}

}  // namespace quorvex::tools

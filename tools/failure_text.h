// What the command line says about a failure: the object's message, and where the object could
// not write a file, the system's reason after it.
#pragma once

#include <exception>
#include <string>

namespace quorvex::tools {

std::string FailureText(const std::exception& failure);

}  // namespace quorvex::tools

// The command-line tool's sub-commands. Each returns the process exit status.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "client/operation_steps.h"

namespace quorvex::tools {

// One operation or setting of `convert`, in the order given on the command line.
using ConvertStep = client::Step;

int RunConvert(const std::string& input, const std::string& output,
               const std::vector<ConvertStep>& steps, std::ostream& out, std::ostream& err);

// Runs the component module's registration (or unregistration) and reports the outcome.
int RunRegister(bool doRegister, std::ostream& out, std::ostream& err);

int RunInfo(const std::vector<std::string>& files, bool json, std::ostream& out, std::ostream& err);

}  // namespace quorvex::tools

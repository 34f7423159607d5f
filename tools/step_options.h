// The operations and settings `convert` and `batch` share: registered on a sub-command, read back
// in the order the user gave them.
#pragma once

#include <CLI/CLI.hpp>
#include <map>
#include <vector>

#include "tools/commands.h"

namespace quorvex::tools {

class StepOptions {
 public:
  // Adds --quality, --resize and the others to the sub-command.
  explicit StepOptions(CLI::App& command);

  // The steps as given, left to right; throws CLI::ValidationError for a malformed value.
  std::vector<ConvertStep> Plan() const;

 private:
  CLI::App& command_;
  std::map<const CLI::Option*, ConvertStep::Kind> kinds_;
};

}  // namespace quorvex::tools

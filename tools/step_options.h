// The operations and settings `convert` and `batch` share, one option per row of the operation
// table: registered on a sub-command, read back in the order the user gave them.
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
  StepOptions(const StepOptions&) = delete;
  StepOptions& operator=(const StepOptions&) = delete;

  // The steps as given, left to right; throws CLI::ValidationError for a malformed value.
  std::vector<ConvertStep> Plan() const;

 private:
  using Rows = std::map<const CLI::Option*, const client::Operation*>;
  // Shows each row's option as CommandLineUsage writes it.
  class Formatter : public CLI::Formatter {
   public:
    explicit Formatter(const Rows& rows) : rows_(rows) {}
    std::string make_option_name(const CLI::Option* option, bool positional) const override;
    std::string make_option_opts(const CLI::Option* option) const override;

   private:
    const Rows& rows_;
  };

  CLI::App& command_;
  Rows rows_;
};

}  // namespace quorvex::tools

#include "tools/step_options.h"

#include <optional>
#include <string>

namespace quorvex::tools {

using client::Arity;

StepOptions::StepOptions(CLI::App& command) : command_(command) {
  for (const client::Operation& row : client::Operations()) {
    if ((row.hosts & client::kCommandLine) == 0) continue;
    const std::string name = "--" + std::string(row.name);
    const std::string help(row.help);
    CLI::Option* option = nullptr;
    switch (row.arity) {
      case Arity::None:
        option = command.add_flag(name)->description(help);
        break;
      case Arity::Attached:
      case Arity::Switch:
        // A bare use reads as the form's bare value.
        option =
            command.add_flag(name + "{" + std::string(row.form->bare) + "}")->description(help);
        if (row.arity == Arity::Switch)
          rows_[command.add_flag("--no-" + std::string(row.name) + "{0}")->group("")] = &row;
        break;
      case Arity::Required:
      case Arity::Optional:
        option = command.add_option(name)
                     ->description(help)
                     ->type_name(std::string(row.placeholder))
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        if (row.arity == Arity::Optional) option->expected(0, 1);
        break;
    }
    // There is one load.
    if (row.stage == client::Stage::Load)
      option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    rows_[option] = &row;
  }
  command.formatter(std::make_shared<Formatter>(rows_));
}

std::string StepOptions::Formatter::make_option_name(const CLI::Option* option,
                                                     bool positional) const {
  const auto found = rows_.find(option);
  if (found == rows_.end()) return CLI::Formatter::make_option_name(option, positional);
  return client::CommandLineUsage(*found->second);
}

std::string StepOptions::Formatter::make_option_opts(const CLI::Option* option) const {
  return rows_.contains(option) ? std::string() : CLI::Formatter::make_option_opts(option);
}

std::vector<ConvertStep> StepOptions::Plan() const {
  std::vector<ConvertStep> plan;
  std::map<const CLI::Option*, size_t> used;
  for (const CLI::Option* option : command_.parse_order()) {
    const auto found = rows_.find(option);
    if (found == rows_.end()) continue;
    const client::Operation& row = *found->second;
    std::optional<std::string> text;
    if (row.arity != Arity::None) {
      const size_t index = used[option]++;
      // An option whose value may be left out has no result, or an empty one, for a use without.
      if (index < option->results().size() && !option->results()[index].empty())
        text = option->results()[index];
    }
    std::optional<ConvertStep> step = client::ParseStep(row, text);
    if (!step) throw CLI::ValidationError(option->get_name(), client::ValueError(row, text));
    plan.push_back(std::move(*step));
  }
  return client::WithHostDefaults(std::move(plan), client::kCommandLine);
}

}  // namespace quorvex::tools

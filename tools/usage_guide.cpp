#include "tools/usage_guide.h"

#include <algorithm>
#include <numeric>

namespace quorvex::tools {

namespace {

size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), 0);
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Guess(const std::optional<std::string>& nearest) {
  return nearest ? "; did you mean '" + *nearest + "'?" : "";
}

}  // namespace

std::optional<std::string> NearestWord(std::string_view word,
                                       const std::vector<std::string>& candidates) {
  std::optional<std::string> best;
  size_t bestDistance = std::max<size_t>(2, word.size() / 3) + 1;
  for (const std::string& candidate : candidates) {
    const size_t distance =
        candidate.starts_with(word) && word.size() >= 3 ? 1 : EditDistance(word, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::optional<std::string> UnknownWordError(const CLI::App& app) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (chosen.empty()) {
    const std::vector<std::string> words = app.remaining();
    if (words.empty() || words.front().starts_with("-")) return std::nullopt;
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
    return "unknown command '" + words.front() + "'" + Guess(NearestWord(words.front(), commands));
  }
  const CLI::App& command = *chosen.front();
  for (const std::string& word : command.remaining(true)) {
    if (!word.starts_with("-") || word == "-") continue;
    const std::string name = word.substr(0, word.find('='));
    std::vector<std::string> options;
    for (const CLI::Option* option : command.get_options())
      for (const std::string& known : option->get_lnames()) options.push_back("--" + known);
    return "unknown option '" + name + "' for " + command.get_name() +
           Guess(NearestWord(name, options));
  }
  return std::nullopt;
}

}  // namespace quorvex::tools

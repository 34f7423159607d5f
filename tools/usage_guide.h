// Usage errors that say what was meant: the nearest command or option to a word the tool does
// not know.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::tools {

// The candidate nearest to word (a few letters apart, or word a start of it), or nothing.
std::optional<std::string> NearestWord(std::string_view word,
                                       const std::vector<std::string>& candidates);

// After a parse, the first word the command line did not know, explained with a guess:
// "unknown command 'conver'; did you mean 'convert'?", "unknown option '--qualty' for convert;
// did you mean '--quality'?". Nothing when every word was known.
std::optional<std::string> UnknownWordError(const CLI::App& app);

}  // namespace quorvex::tools

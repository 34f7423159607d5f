#include "webhost/request_query.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace quorvex::webhost {

namespace {

using Kind = client::Step::Kind;

constexpr std::array<std::pair<std::string_view, Kind>, 16> kOperations{{
    {"resize", Kind::Resize},
    {"scale", Kind::Scale},
    {"box", Kind::Box},
    {"rotate", Kind::Rotate},
    {"crop", Kind::Crop},
    {"flip-horizontal", Kind::FlipHorizontal},
    {"flip-vertical", Kind::FlipVertical},
    {"quality", Kind::Quality},
    {"dpi", Kind::Dpi},
    {"gray", Kind::Gray},
    {"background", Kind::Background},
    {"thumbnail", Kind::Thumbnail},
    {"auto-orient", Kind::AutoOrient},
    {"keep-metadata", Kind::KeepMetadata},
    {"progressive", Kind::Progressive},
    {"optimize-coding", Kind::OptimizeCoding},
}};

}  // namespace

std::vector<client::Step> ParseOperations(const std::vector<QueryItem>& items, std::string* error) {
  std::vector<client::Step> steps;
  for (const QueryItem& item : items) {
    if (item.name == kSignatureItem) continue;
    const auto* found = std::find_if(kOperations.begin(), kOperations.end(),
                                     [&](const auto& entry) { return entry.first == item.name; });
    if (found == kOperations.end()) {
      *error = "unknown operation '" + item.name + "'";
      return {};
    }
    const bool valued = client::TakesValue(found->second);
    std::optional<client::Step> step;
    if (valued == item.hasValue) step = client::ParseStep(found->second, item.value);
    if (!step) {
      *error = valued ? "'" + item.value + "' is not a valid value for " + item.name
                      : item.name + " takes no value";
      return {};
    }
    // There is one load, so one box to load into.
    if (step->kind == Kind::Thumbnail &&
        std::any_of(steps.begin(), steps.end(),
                    [](const client::Step& earlier) { return earlier.kind == Kind::Thumbnail; })) {
      *error = "thumbnail given more than once";
      return {};
    }
    steps.push_back(std::move(*step));
  }
  return steps;
}

std::string SignedText(std::string_view path, const std::vector<QueryItem>& items) {
  std::string text(path);
  text += '?';
  bool first = true;
  for (const QueryItem& item : items) {
    if (item.name == kSignatureItem) continue;
    if (!first) text += '&';
    text += item.name;
    if (item.hasValue) (text += '=') += item.value;
    first = false;
  }
  return text;
}

}  // namespace quorvex::webhost

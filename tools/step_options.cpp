#include "tools/step_options.h"

#include <optional>
#include <string>

#include "client/option_values.h"

namespace quorvex::tools {

namespace {

using Kind = ConvertStep::Kind;

std::string Rejection(Kind kind, const std::string& text) {
  if (kind != Kind::Rotate) return "'" + text + "' is not a valid argument";
  // Infinities and NaN are numbers to the parser but no angle to turn by.
  if (client::ParseAngle(text)) return "'" + text + "' is not a finite number of degrees";
  return "'" + text + "' is not a valid angle";
}

}  // namespace

StepOptions::StepOptions(CLI::App& command) : command_(command) {
  const auto valued = [&](const char* name, const char* help, Kind kind) {
    CLI::Option* option = command.add_option(name)->description(help)->multi_option_policy(
        CLI::MultiOptionPolicy::TakeAll);
    kinds_[option] = kind;
    return option;
  };
  const auto flag = [&](const char* name, const char* help, Kind kind) {
    kinds_[command.add_flag(name)->description(help)] = kind;
  };
  valued("--quality", "JPEG quality 0..100 (default 90)", Kind::Quality);
  valued("--dpi", "resolution written into the JPEG, 0..65535", Kind::Dpi);
  flag("--gray", "write a grayscale JPEG", Kind::Gray);
  valued("--background", "colour of uncovered areas, 0xBBGGRR (default 0xFFFFFF)",
         Kind::Background);
  valued("--resize", "resize to WxH; a side of 0 keeps the aspect ratio", Kind::Resize);
  valued("--scale", "scale by PCT percent", Kind::Scale);
  valued("--box", "shrink to fit inside WxH, keeping the aspect ratio", Kind::Box);
  valued("--rotate", "rotate by DEG degrees, counter-clockwise", Kind::Rotate);
  valued("--crop", "cut out X1,Y1,X2,Y2", Kind::Crop);
  flag("--flip-horizontal", "reverse the order of the rows (upside down)", Kind::FlipHorizontal);
  flag("--flip-vertical", "reverse each row (left and right swap)", Kind::FlipVertical);
  // There is one load, so one box to load into.
  valued("--thumbnail", "load already fitted inside WxH (fast for large pictures)", Kind::Thumbnail)
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  flag("--auto-orient", "turn the picture upright by its EXIF orientation as it loads",
       Kind::AutoOrient);
  valued("--max-pixels", "refuse to load or make a picture of more than N pixels", Kind::MaxPixels);
  flag("--keep-metadata", "write the loaded EXIF, IPTC and ICC profile with the output",
       Kind::KeepMetadata);
  flag("--progressive", "write a progressive JPEG", Kind::Progressive);
  flag("--optimize-coding", "optimal Huffman tables: a smaller file, the same pixels",
       Kind::OptimizeCoding);
}

std::vector<ConvertStep> StepOptions::Plan() const {
  std::vector<ConvertStep> plan;
  std::map<const CLI::Option*, size_t> used;
  for (const CLI::Option* option : command_.parse_order()) {
    const auto found = kinds_.find(option);
    if (found == kinds_.end()) continue;
    const Kind kind = found->second;
    std::string text;
    if (client::TakesValue(kind)) text = option->results().at(used[option]++);
    std::optional<ConvertStep> step = client::ParseStep(kind, text);
    if (!step) throw CLI::ValidationError(option->get_name(), Rejection(kind, text));
    plan.push_back(std::move(*step));
  }
  return plan;
}

}  // namespace quorvex::tools

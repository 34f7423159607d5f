// quorvex: the command-line face of the Resize object.
//   quorvex convert IN OUT [operations and settings, applied left to right]
//   quorvex info [--json] FILE...
//   quorvex register | unregister
//   quorvex serve --root DIR [--listen HOST:PORT] [...]
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "client/option_values.h"
#include "client/resize_driver.h"
#include "tools/commands.h"
#include "webhost/serve_command.h"

namespace {

using quorvex::tools::ConvertStep;
using Kind = ConvertStep::Kind;

[[noreturn]] void Invalid(const std::string& option, const std::string& text) {
  throw CLI::ValidationError(option, "'" + text + "' is not a valid argument");
}

std::vector<int32_t> Integers(const std::string& text, char separator, size_t count,
                              const std::string& option) {
  std::optional<std::vector<int32_t>> numbers =
      quorvex::client::ParseIntegers(text, separator, count);
  if (!numbers) Invalid(option, text);
  return std::move(*numbers);
}

int32_t Colour(const std::string& text, const std::string& option) {
  const std::optional<int32_t> colour = quorvex::client::ParseColour(text);
  if (!colour) Invalid(option, text);
  return *colour;
}

float Angle(const std::string& text, const std::string& option) {
  const std::optional<float> angle = quorvex::client::ParseAngle(text);
  if (!angle) throw CLI::ValidationError(option, "'" + text + "' is not a valid angle");
  if (!std::isfinite(*angle))
    throw CLI::ValidationError(option, "'" + text + "' is not a finite number of degrees");
  return *angle;
}

struct StepOption {
  Kind kind;
  char separator;
  size_t count;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Resize, rotate, crop and flip JPEG images, and report their properties."};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] { return quorvex::client::ResizeDriver().Version(); });

  auto* convert = app.add_subcommand(
      "convert", "Load IN, apply the operations in order, write OUT ('-' for standard output).");
  std::string input, output;
  convert->add_option("IN", input, "JPEG file to read")->required();
  convert->add_option("OUT", output, "JPEG file to write, or - for standard output")->required();

  std::map<CLI::Option*, StepOption> steps;
  const auto valued = [&](const char* name, const char* help, Kind kind, char separator,
                          size_t count) {
    CLI::Option* option = convert->add_option(name)->description(help)->multi_option_policy(
        CLI::MultiOptionPolicy::TakeAll);
    steps[option] = {kind, separator, count};
  };
  const auto flag = [&](const char* name, const char* help, Kind kind) {
    steps[convert->add_flag(name)->description(help)] = {kind, 0, 0};
  };
  valued("--quality", "JPEG quality 0..100 (default 90)", Kind::Quality, ',', 1);
  valued("--dpi", "resolution written into the JPEG, 0..65535", Kind::Dpi, ',', 1);
  flag("--gray", "write a grayscale JPEG", Kind::Gray);
  valued("--background", "colour of uncovered areas, 0xBBGGRR (default 0xFFFFFF)", Kind::Background,
         ',', 1);
  valued("--resize", "resize to WxH; a side of 0 keeps the aspect ratio", Kind::Resize, 'x', 2);
  valued("--scale", "scale by PCT percent", Kind::Scale, ',', 1);
  valued("--box", "shrink to fit inside WxH, keeping the aspect ratio", Kind::Box, 'x', 2);
  valued("--rotate", "rotate by DEG degrees, counter-clockwise", Kind::Rotate, ',', 1);
  valued("--crop", "cut out X1,Y1,X2,Y2", Kind::Crop, ',', 4);
  flag("--flip-horizontal", "reverse the order of the rows (upside down)", Kind::FlipHorizontal);
  flag("--flip-vertical", "reverse each row (left and right swap)", Kind::FlipVertical);

  auto* info = app.add_subcommand("info", "Print size, DPI and grayscale flag of each FILE.");
  std::vector<std::string> files;
  bool json = false;
  info->add_option("FILE", files, "JPEG files")->required();
  info->add_flag("--json", json, "print a JSON array");

  auto* registration =
      app.add_subcommand("register", "Register the component module (ProgID Quorvex.Resize).");
  auto* unregistration =
      app.add_subcommand("unregister", "Remove the component module's registration.");

  auto* serve = app.add_subcommand("serve", "Answer HTTP image requests for the files under DIR.");
  quorvex::webhost::ServeOptions serving;
  std::string listen = "127.0.0.1:8080";
  serve->add_option("--root", serving.root, "folder whose JPEG files are served")->required();
  serve->add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->check([&serving](const std::string& text) {
        return quorvex::webhost::ParseListen(text, &serving) ? "" : "expected HOST:PORT";
      });
  serve->add_option("--workers", serving.workers, "page threads (default: one per processor)");
  serve->add_option("--queue", serving.queue, "requests that may wait for a worker (default 64)");
  serve->add_option("--key-file", serving.keyFile,
                    "requests must carry sig=HMAC-SHA256 by this key");
  serve->add_option("--max-upload", serving.maxUpload,
                    "largest POST body in bytes (default 32 MiB)");
  serve->add_option("--max-pixels", serving.maxPixels,
                    "largest image in pixels (default 50000000)");

  try {
    app.parse(argc, argv);
    if (*serve) return quorvex::webhost::RunServe(serving, std::cout, std::cerr);
    if (*registration) return quorvex::tools::RunRegister(true, std::cout, std::cerr);
    if (*unregistration) return quorvex::tools::RunRegister(false, std::cout, std::cerr);
    if (*convert) {
      std::vector<ConvertStep> plan;
      std::map<CLI::Option*, size_t> used;
      for (CLI::Option* option : convert->parse_order()) {
        const auto found = steps.find(option);
        if (found == steps.end()) continue;
        const StepOption& kind = found->second;
        ConvertStep step{kind.kind, {}, 0};
        if (kind.count > 0) {
          const std::string& text = option->results().at(used[option]++);
          if (kind.kind == Kind::Rotate) {
            step.angle = Angle(text, option->get_name());
          } else if (kind.kind == Kind::Background) {
            step.numbers = {Colour(text, option->get_name())};
          } else {
            step.numbers = Integers(text, kind.separator, kind.count, option->get_name());
          }
        }
        plan.push_back(std::move(step));
      }
      return quorvex::tools::RunConvert(input, output, plan, std::cout, std::cerr);
    }
    return quorvex::tools::RunInfo(files, json, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const quorvex::client::DriverError& e) {
    std::cerr << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

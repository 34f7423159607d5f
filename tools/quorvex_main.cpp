// quorvex: the command-line face of the Resize object.
//   quorvex convert IN OUT [operations and settings, applied left to right]
//   quorvex info [--json] FILE...
//   quorvex register | unregister
//   quorvex serve --root DIR [--listen HOST:PORT] [...]
#include <CLI/CLI.hpp>
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

std::string Rejection(Kind kind, const std::string& text) {
  if (kind != Kind::Rotate) return "'" + text + "' is not a valid argument";
  // Infinities and NaN are numbers to the parser but no angle to turn by.
  if (quorvex::client::ParseAngle(text)) return "'" + text + "' is not a finite number of degrees";
  return "'" + text + "' is not a valid angle";
}

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

  std::map<CLI::Option*, Kind> steps;
  const auto valued = [&](const char* name, const char* help, Kind kind) {
    CLI::Option* option = convert->add_option(name)->description(help)->multi_option_policy(
        CLI::MultiOptionPolicy::TakeAll);
    steps[option] = kind;
  };
  const auto flag = [&](const char* name, const char* help, Kind kind) {
    steps[convert->add_flag(name)->description(help)] = kind;
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
        const Kind kind = found->second;
        std::string text;
        if (quorvex::client::TakesValue(kind)) text = option->results().at(used[option]++);
        std::optional<ConvertStep> step = quorvex::client::ParseStep(kind, text);
        if (!step) throw CLI::ValidationError(option->get_name(), Rejection(kind, text));
        plan.push_back(std::move(*step));
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

// quorvex: the command-line face of the Resize object.
//   quorvex convert IN OUT [operations and settings, applied left to right; those for the load
//                           (--auto-orient, --max-pixels, --keep-metadata) before it wherever
//                           they stand]
//   quorvex batch [operations and settings] -o PATTERN FILE|FOLDER...
//   quorvex info [--json] FILE...
//   quorvex register | unregister
//   quorvex serve --root DIR [--listen HOST:PORT] [...]
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "client/resize_driver.h"
#include "tools/commands.h"
#include "tools/step_options.h"

int main(int argc, char** argv) {
  CLI::App app{"Resize, rotate, crop and flip JPEG images, and report their properties."};
  app.require_subcommand(1);
  app.set_version_flag("--version", [] { return quorvex::client::ResizeDriver().Version(); });

  auto* convert = app.add_subcommand(
      "convert",
      "Load IN (through --thumbnail's box when given; --auto-orient, --max-pixels and "
      "--keep-metadata apply to the load wherever they stand), apply the operations in order, "
      "write OUT ('-' for standard input and output).");
  std::string input, output;
  convert->add_option("IN", input, "JPEG file to read")->required();
  convert->add_option("OUT", output, "JPEG file to write, or - for standard output")->required();

  const quorvex::tools::StepOptions convertSteps(*convert);

  auto* batch = app.add_subcommand(
      "batch", "Convert each FILE as convert does, several at once, writing to PATTERN.");
  quorvex::tools::BatchSettings batching;
  const quorvex::tools::StepOptions batchSteps(*batch);
  batch
      ->add_option("-o,--output", batching.pattern,
                   "output name; %s is the input's name without extension, relative to its folder")
      ->required();
  batch->add_option("FILE", batching.files, "JPEG files, or folders of them")->required();
  batch->add_flag("--recursive", batching.recursive, "take the JPEG files of subfolders too");
  batch->add_option("--jobs", batching.jobs, "files converted at once (default: one per processor)")
      ->check(CLI::PositiveNumber);
  batch->add_flag("--quiet", batching.quiet, "no summary line");

  auto* info = app.add_subcommand(
      "info", "Print size, DPI, grayscale flag, quality and EXIF orientation of each FILE.");
  std::vector<std::string> files;
  bool json = false;
  info->add_option("FILE", files, "JPEG files; - for standard input")->required();
  info->add_flag("--json", json, "print a JSON array");

  auto* registration =
      app.add_subcommand("register", "Register the component module (ProgID Quorvex.Resize).");
  auto* unregistration =
      app.add_subcommand("unregister", "Remove the component module's registration.");

  // The web host is a program of its own (quorvex-serve beside this one); its options, --help
  // included, go to it unread.
  auto* serve = app.add_subcommand(
      "serve", "Answer HTTP image requests for the files under DIR (see quorvex serve --help).");
  serve->prefix_command();
  serve->set_help_flag();

  try {
    app.parse(argc, argv);
    if (*serve) return quorvex::tools::RunServeProgram(serve->remaining(), std::cerr);
    if (*registration) return quorvex::tools::RunRegister(true, std::cout, std::cerr);
    if (*unregistration) return quorvex::tools::RunRegister(false, std::cout, std::cerr);
    if (*convert)
      return quorvex::tools::RunConvert(input, output, convertSteps.Plan(), std::cout, std::cerr);
    if (*batch) {
      batching.progress = ::isatty(STDERR_FILENO) != 0;
      return quorvex::tools::RunBatch(batching, batchSteps.Plan(), std::cerr);
    }
    return quorvex::tools::RunInfo(files, json, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const quorvex::client::DriverError& e) {
    std::cerr << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

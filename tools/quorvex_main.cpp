// quorvex: the command-line face of the Resize object.
//   quorvex convert IN OUT [operations and settings, applied left to right; those for the load
//                           (--auto-orient, --max-pixels, --keep-metadata) before it wherever
//                           they stand]
//   quorvex batch [operations and settings] -o PATTERN FILE|FOLDER...
//   quorvex info [--json] [--recursive] FILE|FOLDER...
//   quorvex register | unregister
//   quorvex serve --root DIR [--listen HOST:PORT] [...]
// Exit status: 0 done, 1 some file failed, 2 a usage error or a refused run.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <iostream>
#include <string>

#include "client/resize_driver.h"
#include "tools/commands.h"
#include "tools/failure_text.h"
#include "tools/step_options.h"
#include "tools/usage_guide.h"

namespace {

constexpr int kUsageError = 2;

// --jobs: a count of at least 1.
const CLI::Validator kJobCount(
    [](std::string& text) -> std::string {
      unsigned count = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
      if (text.empty() || error != std::errc() || end != text.data() + text.size() || count == 0)
        return "expected a whole number of 1 or more, like 4, not '" + text + "'";
      return {};
    },
    "");

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Resize, rotate, crop and flip JPEG images, and report their properties."};
  app.set_version_flag("--version", [] { return quorvex::client::ResizeDriver().Version(); });
  // Unknown words are kept, to be answered with a guess (usage_guide.h).
  app.allow_extras();

  auto* convert = app.add_subcommand(
      "convert",
      "Load IN (through --thumbnail's box when given; --auto-orient, --max-pixels and "
      "--keep-metadata apply to the load wherever they stand), apply the operations in order, "
      "write OUT ('-' for standard input and output) in the format its extension names.");
  quorvex::tools::ConvertSettings converting;
  convert->add_option("IN", converting.input, "JPEG file to read")->required();
  convert
      ->add_option("OUT", converting.output,
                   "file to write (.jpg, .jpeg, .webp, .avif or .png), or - for standard output")
      ->required();
  convert->add_flag("--in-place", converting.inPlace, "let OUT be IN itself, replacing it");
  const quorvex::tools::StepOptions convertSteps(*convert);

  auto* batch = app.add_subcommand(
      "batch", "Convert each FILE as convert does, several at once, writing to PATTERN.");
  quorvex::tools::BatchSettings batching;
  const quorvex::tools::StepOptions batchSteps(*batch);
  batch
      ->add_option("-o,--output", batching.pattern,
                   "output name; %s is the input's name without extension, relative to its folder")
      ->type_name("PATTERN")
      ->required();
  batch->add_option("FILE", batching.files, "JPEG files, or folders of them")->required();
  batch->add_flag("--recursive", batching.recursive, "take the JPEG files of subfolders too");
  batch->add_option("--jobs", batching.jobs, "files converted at once (default: one per processor)")
      ->check(kJobCount)
      ->type_name("N");
  batch->add_flag("--skip-existing", batching.skipExisting,
                  "leave a file whose output is already newer");
  batch->add_flag("--quiet", batching.quiet, "no summary line");

  auto* info = app.add_subcommand(
      "info",
      "Print size, DPI, grayscale flag, quality, EXIF orientation and file size of each FILE.");
  std::vector<std::string> files;
  bool json = false, infoRecursive = false;
  info->add_option("FILE", files, "JPEG files and folders; - for standard input")->required();
  info->add_flag("--json", json, "print a JSON array with the file's metadata");
  info->add_flag("--recursive", infoRecursive, "take the JPEG files of subfolders too");

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

  for (CLI::App* command : {convert, batch, info, registration, unregistration})
    command->allow_extras();

  try {
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      // A misspelt word explains the errors that follow from it.
      if (e.get_exit_code() != 0) {
        if (const std::optional<std::string> unknown = quorvex::tools::UnknownWordError(app))
          throw CLI::ValidationError(*unknown);
      }
      throw;
    }
    if (*serve) return quorvex::tools::RunServeProgram(serve->remaining(), std::cerr);
    if (const std::optional<std::string> unknown = quorvex::tools::UnknownWordError(app))
      throw CLI::ValidationError(*unknown);
    if (app.get_subcommands().empty())
      throw CLI::ValidationError(
          "a command is required: convert, batch, info, serve, register "
          "or unregister (quorvex --help)");
    for (const CLI::App* command : app.get_subcommands())
      if (!command->remaining().empty())
        throw CLI::ValidationError("unexpected '" + command->remaining().front() + "' for " +
                                   command->get_name());
    if (*registration) return quorvex::tools::RunRegister(true, std::cout, std::cerr);
    if (*unregistration) return quorvex::tools::RunRegister(false, std::cout, std::cerr);
    if (*convert)
      return quorvex::tools::RunConvert(converting, convertSteps.Plan(), std::cout, std::cerr);
    if (*batch) {
      batching.progress = ::isatty(STDERR_FILENO) != 0;
      return quorvex::tools::RunBatch(batching, batchSteps.Plan(), std::cerr);
    }
    return quorvex::tools::RunInfo(files, infoRecursive, json, std::cout, std::cerr);
  } catch (const CLI::ParseError& e) {
    // Help and version are answers; every other parse error is a usage error.
    const int status = app.exit(e);
    return status == 0 ? 0 : kUsageError;
  } catch (const quorvex::client::DriverError& e) {
    std::cerr << "quorvex: " << quorvex::tools::FailureText(e) << '\n';
    return 1;
  }
}

#include <sys/stat.h>

#include <ostream>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "tools/commands.h"
#include "tools/failure_text.h"
#include "tools/output_choice.h"
#include "tools/standard_input.h"

namespace quorvex::tools {

using client::DriverError;
using client::ResizeDriver;

namespace {

// Whether both names reach one file (the same device and inode), whatever the spelling.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

int RunConvert(const ConvertSettings& settings, std::vector<ConvertStep> steps, std::ostream& out,
               std::ostream& err) {
  const std::string &input = settings.input, &output = settings.output;
  if (const std::string refusal = ChooseOutputFormat(steps, output); !refusal.empty()) {
    err << "quorvex: " << refusal << '\n';
    return 2;
  }
  if (!settings.inPlace && !IsStandardStream(input) && !IsStandardStream(output) &&
      SameFile(input, output)) {
    err << "quorvex: " << output << " is the input " << input << "; --in-place replaces it\n";
    return 2;
  }
  try {
    ResizeDriver object;
    client::ImageSource source;
    std::unique_ptr<client::ByteArray> bytes;
    if (IsStandardStream(input)) {
      bytes = ReadStandardInput();
      source.inMemory = true;
      source.bytes = bytes.get();
    } else {
      source.file = input;
    }
    client::LoadAndApply(object, source, steps);
    if (IsStandardStream(output)) {
      const std::vector<uint8_t> bytes = object.VariantOut();
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      out.flush();
      if (!out) {
        err << "quorvex: cannot write to standard output\n";
        return 1;
      }
    } else {
      object.SaveToFile(output);
    }
    return 0;
  } catch (const DriverError& e) {
    err << "quorvex: " << FailureText(e) << '\n';
    return 1;
  }
}

}  // namespace quorvex::tools

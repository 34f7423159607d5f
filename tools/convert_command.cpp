#include <ostream>

#include "client/resize_driver.h"
#include "client/step_sequence.h"
#include "tools/commands.h"
#include "tools/standard_input.h"

namespace quorvex::tools {

using client::DriverError;
using client::ResizeDriver;

int RunConvert(const std::string& input, const std::string& output,
               const std::vector<ConvertStep>& steps, std::ostream& out, std::ostream& err) {
  try {
    ResizeDriver object;
    client::ImageSource source;
    std::vector<uint8_t> bytes;
    if (IsStandardStream(input)) {
      bytes = ReadStandardInput();
      source.inMemory = true;
      source.bytes = bytes;
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
    err << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace quorvex::tools

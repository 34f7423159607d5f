#include "tools/output_choice.h"

#include "client/output_formats.h"

namespace quorvex::tools {

std::string ChooseOutputFormat(std::vector<ConvertStep>& steps, const std::string& output) {
  if (const std::string given(client::GivenFormat(steps)); given != "auto") {
    client::SettleFormat(steps, given);
    return {};
  }
  bool hasExtension = false;
  const client::OutputFormat* format = client::FormatOfFileName(output, &hasExtension);
  if (format == nullptr && hasExtension) {
    std::string extensions;
    for (const client::OutputFormat& known : client::OutputFormats())
      for (const std::string_view extension : known.extensions)
        if (!extension.empty())
          extensions += (extensions.empty() ? "" : ", ") + std::string(extension);
    return output + ": the extension names no format quorvex writes (" + extensions +
           "); --format chooses one";
  }
  client::SettleFormat(steps, format != nullptr ? format->name : client::OutputFormats()[0].name);
  return {};
}

}  // namespace quorvex::tools

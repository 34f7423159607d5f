// Which format an output is written in: the one --format names, else the one the output's name
// ends in (.jpg .jpeg .webp .avif .png, any case); a name without an extension ("-", a device, a
// FIFO) is JPEG.
#pragma once

#include <string>
#include <vector>

#include "tools/commands.h"

namespace quorvex::tools {

// Adds the format step the output's name calls for when --format is missing or "auto". Returns
// the usage error for an extension that names no format the tool writes, or an empty text.
std::string ChooseOutputFormat(std::vector<ConvertStep>& steps, const std::string& output);

}  // namespace quorvex::tools

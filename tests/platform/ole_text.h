// Text in the automation character type, spelled once for both platforms: OLECHAR is char16_t
// with the project's platform and wchar_t with Windows' headers, so the platform tests write
// literals as OLESTR("...") and strings as OleString.
#pragma once

#include <string>

#include "platform/winapi.h"

using OleString = std::basic_string<OLECHAR>;

// Conversions between the automation strings the component receives and the byte strings the
// rest of the system uses.
#pragma once

#include <string>
#include <string_view>

#include "platform/winapi.h"

namespace quorvex {

// UTF-16 to UTF-8 for messages; unpaired surrogates become U+FFFD. A null BSTR is empty.
std::string Utf16ToUtf8(const OLECHAR* text, size_t length);
std::string BstrToUtf8(BSTR text);

// A file name in the process's ANSI code page, the form the file system is reached with.
std::string BstrToAnsi(BSTR text);

// UTF-8 to UTF-16 code units; malformed bytes become U+FFFD.
std::basic_string<OLECHAR> Utf8ToOle(std::string_view text);

// A new BSTR holding the UTF-8 text; throws EOutOfMemory when it cannot be allocated.
BSTR Utf8ToNewBstr(std::string_view text);

}  // namespace quorvex

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

// A file name in the form the file system is reached with. Here names are bytes: well-formed
// UTF-16 becomes UTF-8, and a lone surrogate U+DC80..U+DCFF stands for the byte 0x80..0xFF that
// FileNameToOle could not decode, so every name survives the trip through UTF-16. A name that no
// file can have (any other lone surrogate, a NUL character) comes back empty. Under Windows the
// name is in the process's ANSI code page, the form the ...A file functions take.
std::string BstrToFileName(BSTR text);

// A file name's bytes as UTF-16: valid UTF-8 decoded, every other byte as U+DC00 + the byte.
std::basic_string<OLECHAR> FileNameToOle(std::string_view name);
BSTR FileNameToNewBstr(std::string_view name);

// UTF-8 to UTF-16 code units; malformed bytes become U+FFFD.
std::basic_string<OLECHAR> Utf8ToOle(std::string_view text);

// A new BSTR holding the UTF-8 text; throws EOutOfMemory when it cannot be allocated.
BSTR Utf8ToNewBstr(std::string_view text);

}  // namespace quorvex

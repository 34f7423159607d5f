// UTF-8 checks for EXIF Ascii values.
#pragma once

#include <string_view>

namespace quorvex {

// True for well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsWellFormedUtf8(std::string_view text) noexcept;

}  // namespace quorvex

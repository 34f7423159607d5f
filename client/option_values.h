// The values of the operations as text: numbers are decimal, each on its own between the
// separators, with nothing around them; only colours may also be written in hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvex::client {

// Exactly `count` 32-bit decimal integers separated by `separator` ("120x80", "0,0,10,10").
std::optional<std::vector<int32_t>> ParseIntegers(std::string_view text, char separator,
                                                  size_t count);

// A colour 0xBBGGRR: hexadecimal with 0x, or decimal; any 32-bit value, kept as given.
std::optional<int32_t> ParseColour(std::string_view text);

// A decimal angle in degrees, as a float; nullopt for text that is not a number.
std::optional<float> ParseAngle(std::string_view text);

}  // namespace quorvex::client

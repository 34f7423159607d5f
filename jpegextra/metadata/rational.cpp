#include "jpegextra/metadata/rational.h"

#include <cstdint>
#include <vector>

#include "jpegextra/metadata/metadata_errors.h"
#include "jpegextra/metadata/number_text.h"

namespace quorvex {

double RationalToFloat(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '/' || text[i] == '\r' || text[i] == '\n') {
      if (i > start) pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (pieces.size() == 1) {
    const auto value = ParseFloat(text);
    if (!value) throw EConvertError("Conversion error - value is not a number.");
    return *value;
  }
  if (pieces.size() != 2) return 0;
  // Both halves are 32-bit in the file; larger texts keep their low 32 bits.
  const auto numerator = static_cast<int32_t>(static_cast<uint64_t>(StrToInt64(pieces[0])));
  const auto denominator = static_cast<int32_t>(static_cast<uint64_t>(StrToInt64(pieces[1])));
  if (denominator == 0) throw EConvertError("Conversion error - division by zero.");
  return static_cast<double>(numerator) / denominator;
}

}  // namespace quorvex

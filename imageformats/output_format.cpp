#include "imageformats/output_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace quorvex {
namespace {

struct FormatRow {
  TOutputFormat Format;
  std::string_view Name;
  std::string_view MediaType;
};

constexpr std::array<FormatRow, 4> kFormats = {{
    {TOutputFormat::Jpeg, "jpeg", "Image/jpeg"},
    {TOutputFormat::WebP, "webp", "image/webp"},
    {TOutputFormat::Avif, "avif", "image/avif"},
    {TOutputFormat::Png, "png", "image/png"},
}};

bool SameLetters(std::string_view a, std::string_view b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

const FormatRow& RowOf(TOutputFormat format) noexcept {
  return *std::find_if(kFormats.begin(), kFormats.end(),
                       [&](const FormatRow& row) { return row.Format == format; });
}

// The text after the last dot of the last path component; nothing without a dot.
std::optional<std::string_view> Extension(std::string_view path) noexcept {
  const size_t slash = path.find_last_of("/\\");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

}  // namespace

std::optional<TOutputFormat> ParseOutputFormat(std::string_view name) noexcept {
  for (const FormatRow& row : kFormats)
    if (SameLetters(name, row.Name)) return row.Format;
  return std::nullopt;
}

std::string_view FormatName(TOutputFormat format) noexcept {
  return RowOf(format).Name;
}

std::string_view MediaType(TOutputFormat format) noexcept {
  return RowOf(format).MediaType;
}

std::optional<TOutputFormat> FormatForFileName(std::string_view path) noexcept {
  const std::optional<std::string_view> extension = Extension(path);
  if (!extension) return std::nullopt;
  if (SameLetters(*extension, "jpg")) return TOutputFormat::Jpeg;
  return ParseOutputFormat(*extension);
}

bool HasExtension(std::string_view path) noexcept {
  return Extension(path).has_value();
}

bool FormatAvailable(TOutputFormat format) noexcept {
#ifdef QUORVEX_NO_AVIF
  return format != TOutputFormat::Avif;
#else
  (void)format;
  return true;
#endif
}

}  // namespace quorvex

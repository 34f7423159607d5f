#include "client/output_formats.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace quorvex::client {

namespace {

constexpr std::array<OutputFormat, 4> kFormats{{
    {"jpeg", "image/jpeg", {".jpg", ".jpeg"}, "JPEG", 65500},
    {"webp", "image/webp", {".webp", ""}, "WebP", 16383},
    {"avif", "image/avif", {".avif", ""}, "AVIF", 65536},
    {"png", "image/png", {".png", ""}, "PNG", 0x7fffffff},
}};

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Whether the Accept header names the media type with a quality above 0.
bool Names(std::string_view accept, std::string_view mediaType) {
  while (!accept.empty()) {
    const size_t comma = accept.find(',');
    std::string_view range = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    const size_t semicolon = range.find(';');
    if (Lower(Trimmed(range.substr(0, semicolon))) != mediaType) continue;
    bool refused = false;
    for (std::string_view parameters =
             semicolon == std::string_view::npos ? std::string_view() : range.substr(semicolon + 1);
         !parameters.empty();) {
      const size_t next = parameters.find(';');
      const std::string parameter = Lower(Trimmed(parameters.substr(0, next)));
      parameters =
          next == std::string_view::npos ? std::string_view() : parameters.substr(next + 1);
      // q=0, 0.0, 0.00 or 0.000 refuses the type.
      if (parameter.starts_with("q=") && parameter.find_first_not_of("0.", 2) == std::string::npos)
        refused = true;
    }
    if (!refused) return true;
  }
  return false;
}

}  // namespace

std::span<const OutputFormat> OutputFormats() {
  return kFormats;
}

const OutputFormat* FindOutputFormat(std::string_view name) {
  const std::string lower = Lower(name);
  for (const OutputFormat& format : kFormats)
    if (format.name == lower) return &format;
  return nullptr;
}

const OutputFormat* FormatOfFileName(std::string_view name, bool* hasExtension) {
  const size_t slash = name.find_last_of('/');
  const std::string_view leaf = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const size_t dot = leaf.find_last_of('.');
  // ".profile" is a name, not an extension.
  *hasExtension = dot != std::string_view::npos && dot != 0;
  if (!*hasExtension) return nullptr;
  const std::string extension = Lower(leaf.substr(dot));
  for (const OutputFormat& format : kFormats)
    if (std::find(format.extensions.begin(), format.extensions.end(), extension) !=
        format.extensions.end())
      return &format;
  return nullptr;
}

const OutputFormat& NegotiatedFormat(std::string_view accept) {
  for (const std::string_view preferred : {"image/avif", "image/webp"})
    for (const OutputFormat& format : kFormats)
      if (format.mediaType == preferred && Names(accept, preferred)) return format;
  return kFormats[0];
}

}  // namespace quorvex::client

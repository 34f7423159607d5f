// The formats the object writes, with the file name extensions and media types that name them:
// how a host turns an output's name, or a browser's Accept header, into the object's
// OutputFormat.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvex::client {

struct OutputFormat {
  std::string_view name;                       // the object's OutputFormat: "webp"
  std::string_view mediaType;                  // "image/webp"
  std::array<std::string_view, 2> extensions;  // ".webp"; lower case, unused ones empty
  std::string_view title;                      // as people write it: "WebP"
  int64_t maxSide;                             // the longest side the format can hold
};

// jpeg (the object's default), webp, avif, png.
std::span<const OutputFormat> OutputFormats();

// The format of that name (any case), or nullptr.
const OutputFormat* FindOutputFormat(std::string_view name);

// The format a file name's extension names (any case), or nullptr for another extension.
// A name without an extension ("-", "/dev/null") names none: hasExtension is then false.
const OutputFormat* FormatOfFileName(std::string_view name, bool* hasExtension);

// The best format an Accept header names, AVIF, then WebP, then JPEG. Only a type named outright
// counts: "image/*" and "*/*" are sent by browsers that show neither.
const OutputFormat& NegotiatedFormat(std::string_view accept);

}  // namespace quorvex::client

// The picture formats the system writes, and the names, file extensions and media types that
// choose them.
#pragma once

#include <optional>
#include <string_view>

namespace quorvex {

enum class TOutputFormat { Jpeg, WebP, Avif, Png };

// "jpeg", "webp", "avif" or "png" in any case; nothing for any other text.
std::optional<TOutputFormat> ParseOutputFormat(std::string_view name) noexcept;

// The lower-case name ParseOutputFormat takes.
std::string_view FormatName(TOutputFormat format) noexcept;

// The media type a response carrying the format announces. JPEG keeps the text its responses have
// always had.
std::string_view MediaType(TOutputFormat format) noexcept;

// The format a file name's extension names (.jpg .jpeg .webp .avif .png, any case); nothing when
// the last path component has another extension or none.
std::optional<TOutputFormat> FormatForFileName(std::string_view path) noexcept;

// Whether the last path component of path has an extension at all.
bool HasExtension(std::string_view path) noexcept;

// Whether this build can write the format; a build without an AV1 encoder cannot write AVIF.
bool FormatAvailable(TOutputFormat format) noexcept;

}  // namespace quorvex

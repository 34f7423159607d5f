// What reading the metadata of one file may cost, whatever the file declares. Real camera files
// stay far below every number (a few hundred entries, tens of KiB of text); a file past one of
// them keeps what was read up to that point and loads as usual.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// EXIF fields as text: the value text one EXIF segment may produce, and the value bytes it may
// read to produce it (values that several entries share count once per entry).
inline constexpr size_t kMaxExifTextPerSegment = size_t{1} << 20;
inline constexpr size_t kMaxExifValueBytesPerSegment = size_t{4} << 20;

// Directory entries one EXIF segment may hold; a 64 KiB segment has room for about 5,400.
inline constexpr size_t kMaxExifEntriesPerSegment = 8192;

// IPTC datasets of all APP13 segments of one load (each keyword is one); later ones are not read.
inline constexpr size_t kMaxIptcDatasetsPerLoad = 16384;

// Bytes of the segments a load keeps as they are, for writing them back: the APP13 segments
// and the XMP packets each (the first EXIF segment, at most 64 KiB, and the colour profile, at
// most 255 chunks, come on top).
inline constexpr size_t kMaxKeptPhotoshopBytes = size_t{1} << 20;
inline constexpr size_t kMaxKeptXmpBytes = size_t{4} << 20;

// Value bytes a kept EXIF block may copy out of its segment for rewriting; the block written
// back holds at most 64 KiB anyway.
inline constexpr size_t kMaxKeptExifValueBytes = size_t{256} << 10;

}  // namespace quorvex

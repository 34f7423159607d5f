// Placing metadata segments into compressed JPEG bytes on save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "jpegextra/memory_stream.h"

namespace quorvex {

// Where new segments go: after the start-of-image marker and the JFIF APP0 segment that
// follows it (offset 20 for the encoder's output), or right after the start-of-image marker
// when there is no JFIF segment. None when the bytes do not start with a start-of-image marker.
std::optional<size_t> MetadataInsertionPoint(std::span<const uint8_t> bytes) noexcept;

// Inserts segment at the insertion point; data is left at position 0. Does nothing when there
// is no insertion point.
void InsertSegment(TMemoryStream& data, std::span<const uint8_t> segment);

// Calls visit(offset of the marker, marker code, payload) for every segment before the first
// start-of-scan, in file order. Stops at the first byte that is not a well-formed segment.
void VisitSegments(std::span<const uint8_t> bytes,
                   const std::function<void(size_t, uint8_t, std::span<const uint8_t>)>& visit);

// Removes every segment before the first start-of-scan for which match(marker code, payload)
// is true. Saving again then replaces what an earlier save, or the loaded file, put there
// instead of adding a second copy.
void RemoveSegments(TMemoryStream& data,
                    const std::function<bool(uint8_t, std::span<const uint8_t>)>& match);

}  // namespace quorvex

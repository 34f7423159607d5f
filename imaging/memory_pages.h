// How a large block meets the kernel: pages first written one by one cost a fault each, and a
// fault costs microseconds (tens of them in a virtual machine), which for a photo's bytes and
// its raster adds up to more than decoding them.
#pragma once

#include <cstddef>

namespace quorvex {

// Blocks from this size on are worth the hints below; smaller ones are left alone.
inline constexpr size_t kLargeBlockMinimum = size_t{256} << 10;

// Asks for the block's whole 2 MiB pages to be backed by huge pages: one fault per 2 MiB instead
// of one per 4 KiB when the block is first written. Only a hint; the content is unchanged.
void PreferHugePages(void* bytes, size_t size) noexcept;

// Huge pages as above, and every page of the block mapped now, in one call rather than one fault
// at a time: for a block about to be written in full, such as a file being read into it. Only a
// hint; where the system has no such call the pages are mapped as they are written.
void MapLargeBlock(void* bytes, size_t size) noexcept;

}  // namespace quorvex

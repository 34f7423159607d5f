// Large pixel blocks kept between rasters, so that a long-running host pays the first touch of a
// photo's pages (and, when huge pages run short, the kernel's compaction) once rather than on
// every request.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Blocks from this size on are pooled; a decoded photo is tens of MiB.
inline constexpr size_t kPooledBlockMinimum = size_t{8} << 20;

// A block of at least size bytes whose first size bytes are zero, taken from the pool, or
// nullptr when the pool holds none of about that size. capacity receives its real size, which
// the block must be given back with.
uint8_t* TakePooledBlock(size_t size, size_t& capacity);

// Keeps a block that came from malloc (or the pool) for a later raster; false when the pool is
// full (always where the kernel cannot be offered idle pages), and then the caller still owns it.
// Idle blocks are offered to the kernel, which takes their pages back only when memory runs short.
bool PoolBlock(uint8_t* bytes, size_t capacity) noexcept;

}  // namespace quorvex

// The bounds of one JPEG load, whatever the file declares: how many pixels its frame may have,
// how much memory its decode may take and how much scan work it may ask for. A file over any
// of them fails to load like any other bad file, before the work is done.
#pragma once

#include <cstdint>

#include "imaging/raster_image.h"

namespace quorvex {

// Memory of one decode: the raster it produces plus everything the JPEG library allocates
// (the coefficient buffers of progressive and multi-scan files above all). 1 GiB for the whole
// process, less 64 MiB left for the rest of it; the compressed bytes come on top.
inline constexpr uint64_t kLoadMemoryBudget = (uint64_t{1024} - 64) << 20;

// Work of all scans of a file, in passes over the whole frame: each scan costs the blocks it
// covers. Real progressive files need four to seven passes (about ten scans); empty scans
// repeated by the thousand are what this stops.
inline constexpr uint32_t kMaxScanPasses = 20;

// Scans of one file, whatever their size: each one costs a fixed amount of work besides its
// blocks. Real files have a few dozen at most.
inline constexpr int32_t kMaxScans = 1000;

// The limits one load works with. A host may narrow or widen them per object; MaxPixels above
// kMaxRasterPixels acts as kMaxRasterPixels, which no raster exceeds.
struct TLoadLimits {
  int64_t MaxPixels = kMaxRasterPixels;
  uint64_t MaxMemoryBytes = kLoadMemoryBudget;
  uint32_t MaxScanPasses = kMaxScanPasses;
  int32_t MaxScans = kMaxScans;
};

}  // namespace quorvex

// The embedded colour profile and its APP2 "ICC_PROFILE" chunks.
#pragma once

#include <cstdint>
#include <vector>

#include "jpegextra/memory_stream.h"

namespace quorvex {

// Profile bytes in one chunk at most: 65535 - 2 (length) - 14 (identifier, number, count).
inline constexpr size_t kIccChunkPayload = 65519;

class TICCProfile {
 public:
  TMemoryStream ProfileData;

  void Clear() noexcept { ProfileData.Clear(); }
  int64_t Size() const noexcept { return static_cast<int64_t>(ProfileData.Size()); }
  void Assign(const TICCProfile& other);
};

// The APP2 chunks carrying the profile, markers and lengths included: 65519 bytes per chunk,
// the last one holding the rest (empty when the size is a multiple of 65519). Empty when the
// profile is empty or needs more than 255 chunks.
std::vector<uint8_t> IccSegments(const TICCProfile& profile);

}  // namespace quorvex

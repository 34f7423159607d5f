#include "jpegextra/metadata/icc_profile.h"

namespace quorvex {
namespace {

constexpr size_t kMaxChunks = 255;
constexpr char kIdentifier[12] = "ICC_PROFILE";  // with its zero byte

}  // namespace

void TICCProfile::Assign(const TICCProfile& other) {
  if (&other == this) return;
  TMemoryStream copy(
      std::vector<uint8_t>(other.ProfileData.Bytes().begin(), other.ProfileData.Bytes().end()));
  ProfileData = std::move(copy);
}

std::vector<uint8_t> IccSegments(const TICCProfile& profile) {
  const size_t size = profile.ProfileData.Size();
  const size_t chunks = size / kIccChunkPayload + 1;
  if (size == 0 || chunks > kMaxChunks) return {};
  const std::span<const uint8_t> bytes = profile.ProfileData.Bytes();
  std::vector<uint8_t> out;
  out.reserve(size + chunks * 18);
  for (size_t i = 1; i <= chunks; ++i) {
    const size_t payload = i < chunks ? kIccChunkPayload : size % kIccChunkPayload;
    const size_t length = payload + 16;
    out.insert(out.end(),
               {0xFF, 0xE2, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    out.insert(out.end(), std::begin(kIdentifier), std::end(kIdentifier));
    out.push_back(static_cast<uint8_t>(i));
    out.push_back(static_cast<uint8_t>(chunks));
    const size_t from = (i - 1) * kIccChunkPayload;
    out.insert(out.end(), bytes.begin() + from, bytes.begin() + from + payload);
  }
  return out;
}

}  // namespace quorvex

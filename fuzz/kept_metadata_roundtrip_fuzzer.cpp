// Writes back what the kept-metadata readers made of arbitrary bytes and reads it again: the
// input taken as an APP1 EXIF payload (its raw directories, rewritten), as an APP13 payload (its
// resources and IPTC datasets) and as an ICC profile (split into chunks and collected by the
// marker walk). Each second reading must equal the first. Seeds: EXIF payloads of both byte
// orders, an APP13 payload with the envelope record and several resources.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpegextra/metadata/exif_block.h"
#include "jpegextra/metadata/icc_profile.h"
#include "jpegextra/metadata/jpeg_metadata.h"
#include "jpegextra/metadata/photoshop_segment.h"

namespace {

using namespace quorvex;

bool SameEntries(const TTiffDirectory& a, const TTiffDirectory& b) {
  if (a.Entries.size() != b.Entries.size()) return false;
  for (size_t i = 0; i < a.Entries.size(); ++i) {
    const TTiffEntry &x = a.Entries[i], &y = b.Entries[i];
    if (x.Tag != y.Tag || x.Type != y.Type || x.Count != y.Count || x.Value != y.Value)
      return false;
  }
  return true;
}

void ExifRoundTrip(const std::vector<uint8_t>& bytes) {
  const std::optional<TExifBlock> first = TExifBlock::Parse(bytes);
  if (!first) return;
  const std::vector<uint8_t> written = first->Write();
  const std::optional<TExifBlock> second = TExifBlock::Parse(written);
  if (!second || second->BigEndian != first->BigEndian) __builtin_trap();
  const bool exif = (*first)[TIfdKind::Exif].Present;
  for (size_t k = 0; k < kIfdKinds; ++k) {
    const auto kind = static_cast<TIfdKind>(k);
    // What the writer leaves out: an interoperability directory without the EXIF one that
    // points at it, a thumbnail directory without a picture.
    const bool written = kind == TIfdKind::Interop ? exif && (*first)[kind].Present
                         : kind == TIfdKind::Thumbnail
                             ? (*first)[kind].Present && !first->Thumbnail.empty()
                             : (*first)[kind].Present;
    if ((*second)[kind].Present != written) __builtin_trap();
    if (written && !SameEntries((*first)[kind], (*second)[kind])) __builtin_trap();
  }
  if ((*first)[TIfdKind::Thumbnail].Present && second->Thumbnail != first->Thumbnail)
    __builtin_trap();
}

void PhotoshopRoundTrip(const std::vector<uint8_t>& bytes) {
  TApp14Segment first;
  try {
    TMemoryStream payload(bytes);
    first.ParseSegment(payload);
  } catch (const EReadError&) {
    return;
  }
  TMemoryStream written;
  first.WriteSegment(written);
  if (written.Size() == 0) return;  // too long for one segment
  TApp14Segment second;
  TMemoryStream payload(std::vector<uint8_t>(written.Bytes().begin() + 4, written.Bytes().end()));
  second.ParseSegment(payload);
  if (second.Header != first.Header || second.Resources != first.Resources) __builtin_trap();
}

void IccRoundTrip(const std::vector<uint8_t>& bytes) {
  TICCProfile profile;
  profile.ProfileData = TMemoryStream(bytes);
  const std::vector<uint8_t> chunks = IccSegments(profile);
  if (chunks.empty()) return;
  std::vector<uint8_t> jpeg = {0xFF, 0xD8};
  jpeg.insert(jpeg.end(), chunks.begin(), chunks.end());
  jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x02});
  TJpegMetadata metadata;
  metadata.UseIccProfile = true;
  TMemoryStream data(jpeg);
  TResolution dpi;
  metadata.ReadMetadata(data, dpi);
  const std::span<const uint8_t> read = metadata.IccProfile.ProfileData.Bytes();
  if (!std::equal(read.begin(), read.end(), bytes.begin(), bytes.end())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  ExifRoundTrip(bytes);
  PhotoshopRoundTrip(bytes);
  IccRoundTrip(bytes);
  return 0;
}

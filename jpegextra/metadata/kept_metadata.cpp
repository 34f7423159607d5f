#include "jpegextra/metadata/kept_metadata.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jpegextra/metadata/exif_block.h"
#include "jpegextra/metadata/exif_lookup.h"
#include "jpegextra/metadata/exif_thumbnail_builder.h"
#include "jpegextra/metadata/photoshop_segment.h"
#include "jpegextra/metadata/xmp_packet.h"

namespace quorvex {
namespace {

constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kApp13 = 0xED;
constexpr size_t kMaxPayload = 65533;  // a segment's length counts itself
constexpr size_t kExifHeaderSize = 6;  // "Exif\0\0" before the TIFF structure
constexpr uint16_t kOrientation = 0x0112;
constexpr uint16_t kXResolution = 0x011A;
constexpr uint16_t kYResolution = 0x011B;
constexpr uint16_t kResolutionUnit = 0x0128;
constexpr uint16_t kCompression = 0x0103;
constexpr uint16_t kPixelXDimension = 0xA002;
constexpr uint16_t kPixelYDimension = 0xA003;
constexpr uint16_t kColorSpace = 0xA001;
constexpr uint16_t kInteropIndex = 0x0001;
constexpr uint16_t kAsciiType = 2;
constexpr uint16_t kShortType = 3;
constexpr uint16_t kJpegCompression = 6;
constexpr uint16_t kInches = 2;
constexpr uint32_t kThumbnailDpi = 72;
// Fields of a thumbnail stored as uncompressed strips, which a JPEG thumbnail must not have.
constexpr uint16_t kStripFields[] = {0x0100, 0x0101, 0x0102, 0x0106, 0x0115, 0x0116, 0x011C};

void AppendSegment(std::vector<uint8_t>& out, uint8_t code, std::span<const uint8_t> payload) {
  if (payload.empty() || payload.size() > kMaxPayload) return;
  const size_t length = payload.size() + 2;
  out.insert(out.end(),
             {0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  out.insert(out.end(), payload.begin(), payload.end());
}

// The colour space signature at bytes 16..19 of a profile header.
bool ProfileSpaceIs(const TICCProfile& profile, std::string_view space) {
  const std::span<const uint8_t> bytes = profile.ProfileData.Bytes();
  return bytes.size() >= 20 &&
         std::equal(space.begin(), space.end(), bytes.begin() + 16,
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// A size as the field had it: a short while it fits, a long beyond.
TTiffEntry Dimension(const TExifBlock& block, const TTiffEntry& source, int32_t value) {
  const auto size = static_cast<uint32_t>(std::max(value, 0));
  if (source.Type == kShortType && size <= 0xFFFF)
    return block.Short(source.Tag, static_cast<uint16_t>(size));
  return block.Long(source.Tag, size);
}

// The thumbnail directory of a rebuilt JPEG thumbnail: the source's own fields less those of
// strips, with the ones a JPEG thumbnail requires.
void RebuildThumbnail(TExifBlock& block, TJPEGImageExtra& output, bool upright) {
  TEXIFThumbnail built;
  BuildExifThumbnail(output.Decode(), built);
  const std::span<const uint8_t> jpeg = built.JpegData.Bytes();
  block.Thumbnail.assign(jpeg.begin(), jpeg.end());
  TTiffDirectory& directory = block[TIfdKind::Thumbnail];
  for (uint16_t tag : kStripFields) directory.Remove(tag);
  directory.Set(block.Short(kCompression, kJpegCompression));
  if (directory.Find(kXResolution) == nullptr)
    directory.Set(block.Rational(kXResolution, kThumbnailDpi, 1));
  if (directory.Find(kYResolution) == nullptr)
    directory.Set(block.Rational(kYResolution, kThumbnailDpi, 1));
  if (directory.Find(kResolutionUnit) == nullptr)
    directory.Set(block.Short(kResolutionUnit, kInches));
  if (upright && directory.Find(kOrientation) != nullptr)
    directory.Set(block.Short(kOrientation, 1));
}

// Whether an entry is the single short value.
bool SameShort(const TExifBlock& block, const TTiffEntry& entry, int value) {
  return entry.Type == block.Short(entry.Tag, 0).Type && entry.Count == 1 &&
         entry.Value == block.Short(entry.Tag, static_cast<uint16_t>(value)).Value;
}

// Converted pixels are sRGB: the colour space fields say so as a camera writes them for sRGB
// (ColorSpace 1, interoperability index R98), where the source had them.
void MarkSrgb(TExifBlock& block) {
  TTiffDirectory& exif = block[TIfdKind::Exif];
  if (exif.Find(kColorSpace) != nullptr) exif.Set(block.Short(kColorSpace, 1));
  TTiffDirectory& interop = block[TIfdKind::Interop];
  if (interop.Find(kInteropIndex) != nullptr)
    interop.Set(TTiffEntry{kInteropIndex, kAsciiType, 4, {'R', '9', '8', 0}, 0});
}

// The entry to give up next when the block is too long: the largest field without a name in
// the table, then the maker note, then the largest of the others. Values of four bytes or less
// cost only their entry and are given up last of all.
std::pair<TIfdKind, uint16_t> NextToDrop(const TExifBlock& block) {
  int bestRank = -1;
  size_t bestSize = 0;
  std::pair<TIfdKind, uint16_t> best{TIfdKind::Main, 0};
  for (size_t k = 0; k < kIfdKinds; ++k)
    for (const TTiffEntry& entry : block.Directories[k].Entries) {
      const int rank = entry.Tag == kMakerNoteTag ? 1 : FindTagName(entry.Tag).empty() ? 2 : 0;
      const size_t size = entry.Value.size();
      if (rank > bestRank || (rank == bestRank && size > bestSize)) {
        bestRank = rank;
        bestSize = size;
        best = {static_cast<TIfdKind>(k), entry.Tag};
      }
    }
  return best;
}

// The block written within one segment; empty when not even its directories fit.
std::vector<uint8_t> Fitted(TExifBlock& block) {
  std::vector<uint8_t> out = block.Write();
  if (out.size() > kMaxPayload) {
    block.Thumbnail.clear();
    out = block.Write();
  }
  while (out.size() > kMaxPayload) {
    const auto [kind, tag] = NextToDrop(block);
    TTiffDirectory& directory = block[kind];
    const size_t before = directory.Entries.size();
    directory.Remove(tag);
    if (directory.Entries.size() == before) return {};
    out = block.Write();
  }
  return out;
}

// The kept EXIF payload adjusted to the result; its thumbnail rebuilt from output when there is
// one to rebuild from, left out otherwise (formats other than JPEG carry none).
std::vector<uint8_t> KeptExif(const TKeptMetadata& kept, const TOutputPicture& picture,
                              const TMetadataParts& parts, TJPEGImageExtra* output) {
  std::optional<TExifBlock> parsed = TExifBlock::Parse(kept.Raw.Exif);
  if (!parsed) return {};
  TExifBlock& block = *parsed;
  if (!parts.Gps) block[TIfdKind::Gps] = TTiffDirectory();
  if (!parts.Exif) {
    // The GPS directory alone: a main directory that only points at it.
    for (TIfdKind kind : {TIfdKind::Main, TIfdKind::Exif, TIfdKind::Interop, TIfdKind::Thumbnail})
      block[kind].Entries.clear();
    block[TIfdKind::Exif].Present = block[TIfdKind::Thumbnail].Present = false;
    block.Thumbnail.clear();
    if (!block[TIfdKind::Gps].Present) return {};
  } else {
    TTiffDirectory& main = block[TIfdKind::Main];
    // The orientation written is the one the load took: 1 once turned upright, else the first
    // entry the reader found, which need not be the entry of that tag the block kept.
    const int orientation = kept.Upright ? 1 : RecordedOrientation(kept.Exif);
    if (const TTiffEntry* entry = main.Find(kOrientation);
        entry != nullptr ? !SameShort(block, *entry, orientation) : orientation != 1)
      main.Set(block.Short(kOrientation, static_cast<uint16_t>(orientation)));
    if (picture.Dpi != 0) {
      main.Set(block.Rational(kXResolution, picture.Dpi, 1));
      main.Set(block.Rational(kYResolution, picture.Dpi, 1));
      main.Set(block.Short(kResolutionUnit, kInches));
    }
    if (picture.Srgb) MarkSrgb(block);
    TTiffDirectory& exif = block[TIfdKind::Exif];
    if (const TTiffEntry* x = exif.Find(kPixelXDimension))
      exif.Set(Dimension(block, *x, picture.Width));
    if (const TTiffEntry* y = exif.Find(kPixelYDimension))
      exif.Set(Dimension(block, *y, picture.Height));
    if (output == nullptr) {
      block[TIfdKind::Thumbnail] = TTiffDirectory();
      block.Thumbnail.clear();
    } else if (block[TIfdKind::Thumbnail].Present) {
      RebuildThumbnail(block, *output, kept.Upright);
    }
  }
  return Fitted(block);
}

}  // namespace

TKeptMetadata TakeMetadata(TJPEGImageExtra& loaded) {
  TKeptMetadata kept;
  kept.Exif = std::move(loaded.Exif());
  kept.Raw = std::move(loaded.RawSegments());
  kept.FileInfo = std::move(loaded.FileInfo());
  kept.IccProfile.ProfileData = std::move(loaded.IccProfile().ProfileData);
  return kept;
}

int RecordedOrientation(const TExif& exif) noexcept {
  const std::ptrdiff_t index = exif.Fields.IndexOfName("Orientation");
  if (index < 0) return 1;
  const std::string_view value = TStringList::ValueOf(exif.Fields[static_cast<size_t>(index)]);
  // A single short: one digit, nothing else.
  if (value.size() != 1 || value[0] < '1' || value[0] > '8') return 1;
  return value[0] - '0';
}

void MarkUpright(TKeptMetadata& kept) {
  kept.Upright = true;
}

namespace {

std::vector<uint8_t> KeptXmp(const TKeptMetadata& kept, const TMetadataParts& parts) {
  std::vector<uint8_t> xmp = kept.Raw.Xmp;
  if (kept.Upright) MarkXmpUpright(xmp);
  if (!parts.Gps) RemoveXmpGps(xmp);
  return xmp;
}

bool ProfileFits(const TKeptMetadata& kept, const TOutputPicture& picture) {
  return ProfileSpaceIs(kept.IccProfile, picture.Gray ? "GRAY" : "RGB ");
}

// The IPTC record of the kept Photoshop segments, for formats that carry it only as XMP.
TFileInfo KeptIptc(const TKeptMetadata& kept) {
  TFileInfo info;
  for (const std::vector<uint8_t>& photoshop : kept.Raw.Photoshop) {
    TMemoryStream stream(photoshop);
    try {
      TApp14Segment segment;
      segment.ParseSegment(stream);
      info.MergeSegment(segment);
    } catch (const Exception&) {
      // The load read past the same fault; what earlier segments gave stays.
    }
  }
  return info;
}

}  // namespace

void PutMetadata(const TKeptMetadata& kept, const TOutputPicture& picture,
                 const TMetadataParts& parts, TJPEGImageExtra& output) {
  std::vector<uint8_t> segments;
  if (parts.Exif || parts.Gps)
    AppendSegment(segments, kApp1, KeptExif(kept, picture, parts, &output));
  if (parts.Xmp && !kept.Raw.Xmp.empty()) {
    AppendSegment(segments, kApp1, KeptXmp(kept, parts));
    for (const std::vector<uint8_t>& chunk : kept.Raw.ExtendedXmp)
      AppendSegment(segments, kApp1, chunk);
  }
  if (parts.Icc && ProfileFits(kept, picture)) {
    const std::vector<uint8_t> chunks = IccSegments(kept.IccProfile);
    segments.insert(segments.end(), chunks.begin(), chunks.end());
  }
  if (parts.Iptc)
    for (const std::vector<uint8_t>& photoshop : kept.Raw.Photoshop)
      AppendSegment(segments, kApp13, photoshop);
  output.SetKeptSegments(std::move(segments));
}

TMetadataBlocks MetadataBlocks(const TKeptMetadata& kept, const TOutputPicture& picture,
                               const TMetadataParts& parts) {
  TMetadataBlocks blocks;
  if (parts.Exif || parts.Gps) {
    std::vector<uint8_t> exif = KeptExif(kept, picture, parts, nullptr);
    if (exif.size() > kExifHeaderSize)
      blocks.Exif.assign(exif.begin() + kExifHeaderSize, exif.end());
  }
  if (parts.Xmp && !kept.Raw.Xmp.empty()) {
    // Other formats carry the packet alone, without the APP1 namespace that leads it in JPEG.
    std::vector<uint8_t> xmp = KeptXmp(kept, parts);
    const auto packet = std::find(xmp.begin(), xmp.end(), uint8_t{0});
    if (packet != xmp.end()) blocks.Xmp.assign(packet + 1, xmp.end());
  } else if (parts.Iptc)
    blocks.Xmp = XmpPacket(KeptIptc(kept));
  if (parts.Icc && ProfileFits(kept, picture)) {
    const std::span<const uint8_t> profile = kept.IccProfile.ProfileData.Bytes();
    blocks.Icc.assign(profile.begin(), profile.end());
  }
  return blocks;
}

}  // namespace quorvex

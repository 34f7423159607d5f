#include "jpegextra/metadata/kept_metadata.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jpegextra/metadata/be_memory_stream.h"
#include "jpegextra/metadata/segment_edit.h"

namespace quorvex {
namespace {

constexpr uint8_t kApp1 = 0xE1;
constexpr std::string_view kExifSignature("Exif\0\0", 6);

bool IsExifSegment(uint8_t code, std::span<const uint8_t> payload) {
  return code == kApp1 && payload.size() >= kExifSignature.size() &&
         std::equal(kExifSignature.begin(), kExifSignature.end(), payload.begin(),
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// The marker walk keeps the fields of the last EXIF segment, so the thumbnail is looked for in
// that one too.
bool ExifBlockHasThumbnail(std::span<const uint8_t> jpeg) {
  std::span<const uint8_t> last;
  VisitSegments(jpeg, [&](size_t, uint8_t code, std::span<const uint8_t> payload) {
    if (IsExifSegment(code, payload)) last = payload;
  });
  if (last.empty()) return false;
  TExif probe;
  probe.ThumbnailOnly = true;
  TBEMemoryStream payload(std::vector<uint8_t>(last.begin(), last.end()));
  TEXIFThumbnail thumbnail;
  probe.ReadExif(payload, thumbnail);
  return probe.HasThumbnail;
}

// The colour space signature at bytes 16..19 of a profile header.
bool ProfileSpaceIs(const TICCProfile& profile, std::string_view space) {
  const std::span<const uint8_t> bytes = profile.ProfileData.Bytes();
  return bytes.size() >= 20 &&
         std::equal(space.begin(), space.end(), bytes.begin() + 16,
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

TStringList WithoutNames(const TStringList& fields, std::initializer_list<std::string_view> names) {
  TStringList kept;
  for (const std::string& line : fields) {
    const std::string_view name = TStringList::NameOf(line);
    const bool dropped = std::any_of(names.begin(), names.end(), [&](std::string_view other) {
      return std::equal(
          name.begin(), name.end(), other.begin(), other.end(),
          [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
    });
    if (!dropped) kept.Add(line);
  }
  return kept;
}

}  // namespace

TKeptMetadata TakeMetadata(TJPEGImageExtra& loaded) {
  TKeptMetadata kept;
  kept.Exif = std::move(loaded.Exif());
  kept.FileInfo = std::move(loaded.FileInfo());
  kept.IccProfile.ProfileData = std::move(loaded.IccProfile().ProfileData);
  if (const TMemoryStream* data = loaded.Data(); data != nullptr && !kept.Exif.Fields.Empty())
    kept.HadThumbnail = ExifBlockHasThumbnail(data->Bytes());
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
  if (kept.Exif.Fields.IndexOfName("Orientation") >= 0)
    kept.Exif.Fields.SetValue("Orientation", "1");
}

void PutMetadata(const TKeptMetadata& kept, const TOutputPicture& picture,
                 TJPEGImageExtra& output) {
  TExif& exif = output.Exif();
  exif.Assign(kept.Exif);
  if (!exif.Fields.Empty()) {
    exif.Fields.SetValue("PixelXDimension", std::to_string(picture.Width));
    exif.Fields.SetValue("PixelYDimension", std::to_string(picture.Height));
    if (picture.Dpi == 0) {
      exif.Fields = WithoutNames(exif.Fields, {"XResolution", "YResolution", "ResolutionUnit"});
    } else {
      const std::string dpi = std::to_string(picture.Dpi) + "/1";
      exif.Fields.SetValue("XResolution", dpi);
      exif.Fields.SetValue("YResolution", dpi);
      exif.Fields.SetValue("ResolutionUnit", "2");
    }
  }
  output.SetCreateThumbnail(kept.HadThumbnail && !exif.Fields.Empty());
  output.FileInfo().Assign(kept.FileInfo);
  if (ProfileSpaceIs(kept.IccProfile, picture.Gray ? "GRAY" : "RGB ")) {
    output.IccProfile().Assign(kept.IccProfile);
    output.SetUseIccProfile(true);
  }
}

}  // namespace quorvex

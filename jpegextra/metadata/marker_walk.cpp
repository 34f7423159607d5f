// The marker walk that runs at the end of every load. The bytes are untrusted: every length is
// checked against what is left before anything is read, and the walk only moves forward.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "jpegextra/metadata/be_memory_stream.h"
#include "jpegextra/metadata/jpeg_metadata.h"
#include "jpegextra/metadata/metadata_budget.h"
#include "jpegextra/metadata/metadata_errors.h"
#include "jpegextra/metadata/photoshop_segment.h"
#include "jpegextra/metadata/quality_estimate.h"
#include "jpegextra/metadata/rational.h"

namespace quorvex {
namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kDefineQuantTables = 0xDB;
constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kApp13 = 0xED;
constexpr double kInchesPerCentimetre = 0.3937007874;
constexpr std::string_view kXmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr std::string_view kExtendedXmpSignature("http://ns.adobe.com/xmp/extension/\0", 35);
constexpr std::string_view kPhotoshopSignature("Photoshop 3.0\0", 14);

bool StartsWith(std::span<const uint8_t> payload, std::string_view prefix) noexcept {
  return payload.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), payload.begin(),
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// The chunks of an ICC profile by sequence number. The profile stands only when every chunk
// 1..N arrived exactly once, all saying N: a missing or repeated chunk would make a corrupt
// profile, which is worse than none.
class IccChunks {
 public:
  void Add(uint8_t sequence, uint8_t count, std::span<const uint8_t> bytes) {
    if (sequence == 0 || sequence > count || (count_ != 0 && count != count_) ||
        received_[sequence]) {
      spoiled_ = true;
      return;
    }
    count_ = count;
    received_[sequence] = true;
    chunks_[sequence].assign(bytes.begin(), bytes.end());
  }

  // The profile, or empty when the chunks do not make one.
  std::vector<uint8_t> Profile() const {
    std::vector<uint8_t> profile;
    if (spoiled_ || count_ == 0) return profile;
    for (size_t i = 1; i <= count_; ++i) {
      if (!received_[i]) return {};
      profile.insert(profile.end(), chunks_[i].begin(), chunks_[i].end());
    }
    return profile;
  }

 private:
  std::array<std::vector<uint8_t>, 256> chunks_;
  std::array<bool, 256> received_{};
  size_t count_ = 0;
  bool spoiled_ = false;
};

// Leaves the stream at position 0 however the walk ends.
class RewindOnExit {
 public:
  explicit RewindOnExit(TMemoryStream& data) : data_(data) {}
  ~RewindOnExit() { data_.Seek(0); }
  RewindOnExit(const RewindOnExit&) = delete;
  RewindOnExit& operator=(const RewindOnExit&) = delete;

 private:
  TMemoryStream& data_;
};

// The resolution kept as a 32-bit float, in dots per inch, rounded (ties to even) to the low 16
// bits the setters keep. nullopt for a value no float or integer can hold (a text such as
// "1e20"), which counts as a malformed value.
std::optional<uint16_t> ExifDpi(const TStringList& fields, const char* name) {
  const double value = RationalToFloat(fields.Value(name));
  if (!(std::fabs(value) <= std::numeric_limits<float>::max())) return std::nullopt;
  const auto resolution = static_cast<float>(value);
  const bool centimetres = fields.Value("ResolutionUnit") == "3";
  const double dpi = std::nearbyint(centimetres ? resolution / kInchesPerCentimetre : resolution);
  if (!(std::fabs(dpi) < 9.2e18)) return std::nullopt;
  return static_cast<uint16_t>(static_cast<int64_t>(dpi));
}

class MarkerWalk {
 public:
  MarkerWalk(std::span<const uint8_t> bytes, TJpegMetadata& metadata, TResolution& dpi)
      : bytes_(bytes), m_(metadata), dpi_(dpi) {}

  void Run() {
    for (;;) {
      if (at_ >= bytes_.size()) return;
      if (bytes_[at_++] == kMarker) {
        // Any number of fill bytes may come before a marker's code.
        while (at_ < bytes_.size() && bytes_[at_] == kMarker) ++at_;
        if (at_ >= bytes_.size()) return;
        const uint8_t code = bytes_[at_++];
        if (code == kStartOfScan) return;
        if (code != kStartOfImage) {
          const std::optional<size_t> length = ReadLength();
          if (!length) return;  // the data ends inside the segment
          switch (Segment(code, *length)) {
            case Next::Continue:
              break;
            case Next::Rescan:
              continue;
            case Next::Stop:
              return;
          }
        }
      }
      if (at_ >= bytes_.size() - 1) return;
    }
  }

  const TQualityStatistics& Statistics() const noexcept { return stats_; }
  std::vector<uint8_t> IccProfile() const { return icc_.Profile(); }

 private:
  enum class Next { Continue, Rescan, Stop };

  size_t Left() const noexcept { return at_ <= bytes_.size() ? bytes_.size() - at_ : 0; }

  std::optional<size_t> ReadLength() noexcept {
    if (Left() < 2) return std::nullopt;
    const size_t length = size_t{bytes_[at_]} << 8 | bytes_[at_ + 1];
    at_ += 2;
    return length;
  }

  // Moves past count bytes; past the end of the data the end test stops the walk.
  void Skip(size_t count) noexcept { at_ += std::min(count, Left() + 1); }

  Next Segment(uint8_t code, size_t length) {
    // Lengths count themselves. For 0 and 1 nothing is skipped: the two length bytes, which
    // are then no marker, are all a step back would have rescanned.
    const size_t payload = length >= 2 ? length - 2 : 0;
    switch (code) {
      case kApp13:
        // A length that cannot count itself would make the payload wrap to nearly 64 KiB,
        // swallowing what follows: end the walk with what was read.
        if (length < 2) return Next::Stop;
        return PhotoshopSegment(static_cast<uint16_t>(length - 2));
      case kApp1:
        return ExifSegment(length);
      case kDefineQuantTables:
        return QuantTables(length);
      case kApp2:
        if (m_.UseIccProfile) return IccChunk(length);
        break;
      default:
        break;
    }
    Skip(payload);
    return Next::Continue;
  }

  Next PhotoshopSegment(uint16_t payload) {
    // A payload that runs past the end is not a segment: scan its bytes as ordinary ones.
    if (payload > Left()) return Next::Rescan;
    if (payload == 0) return Next::Continue;
    const std::span<const uint8_t> bytes = bytes_.subspan(at_, payload);
    at_ += payload;
    if (StartsWith(bytes, kPhotoshopSignature) &&
        keptPhotoshop_ + payload <= kMaxKeptPhotoshopBytes) {
      keptPhotoshop_ += payload;
      m_.Raw.Photoshop.emplace_back(bytes.begin(), bytes.end());
    }
    // Past the budget the segments are still walked over, not read.
    if (iptcDatasets_ >= kMaxIptcDatasetsPerLoad) return Next::Continue;
    TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    try {
      TApp14Segment segment;
      segment.ParseSegment(stream);
      for (const TBIMSegment& block : segment.Resources) iptcDatasets_ += block.Datasets.size();
      m_.FileInfo.MergeSegment(segment);
      if (!segment.Resources.empty()) m_.FileInfo.HasPhotoshopData = true;
    } catch (const Exception&) {
      // A malformed or cut-short block: keep what earlier segments gave.
    }
    return Next::Continue;
  }

  Next ExifSegment(size_t length) {
    if (length == 2) return Next::Continue;
    if (length < 2 || length - 2 > Left()) throw EReadError();
    const std::span<const uint8_t> bytes = bytes_.subspan(at_, length - 2);
    at_ += length - 2;
    if (StartsWith(bytes, kXmpSignature)) {
      if (m_.Raw.Xmp.empty() && Keep(bytes)) m_.Raw.Xmp.assign(bytes.begin(), bytes.end());
      return Next::Continue;
    }
    if (StartsWith(bytes, kExtendedXmpSignature)) {
      if (Keep(bytes)) m_.Raw.ExtendedXmp.emplace_back(bytes.begin(), bytes.end());
      return Next::Continue;
    }
    // The first EXIF segment is the picture's, as other readers take it; later ones count only
    // for the resolution, read on its own.
    if (!exifRead_) {
      TBEMemoryStream payload(std::vector<uint8_t>(bytes.begin(), bytes.end()));
      if (m_.Exif.ReadExif(payload, m_.Thumbnail)) {
        exifRead_ = true;
        m_.Raw.Exif = payload.Release();
        ApplyResolutionRule(m_.Exif.Fields);
      }
    } else if (const std::optional<TStringList> fields = ExifResolutionFields(bytes)) {
      ApplyResolutionRule(*fields);
    }
    return Next::Continue;
  }

  bool Keep(std::span<const uint8_t> xmp) noexcept {
    if (keptXmp_ + xmp.size() > kMaxKeptXmpBytes) return false;
    keptXmp_ += xmp.size();
    return true;
  }

  void ApplyResolutionRule(const TStringList& fields) {
    try {
      std::optional<uint16_t> x = dpi_.X, y = dpi_.Y;
      if (dpi_.X == 1) x = ExifDpi(fields, "XResolution");
      if (x && dpi_.Y == 1) y = ExifDpi(fields, "YResolution");
      dpi_ = x && y ? TResolution{*x, *y} : TResolution{0, 0};
    } catch (const EConvertError&) {
      dpi_ = {0, 0};
    }
  }

  // Table after table while the declared length has room; a table is counted only when all
  // its values are there.
  Next QuantTables(size_t length) {
    size_t consumed = 2;
    while (length > consumed) {
      if (Left() < 1) return Next::Stop;
      const uint8_t identifier = bytes_[at_];
      const bool sixteenBit = (identifier & 0xF0) != 0;
      const size_t size = 1 + 64 * (sixteenBit ? 2 : 1);
      if (Left() < size) return Next::Stop;
      TQuantTable values;
      const uint8_t* p = bytes_.data() + at_ + 1;
      for (size_t k = 0; k < 64; ++k)
        values[k] = sixteenBit ? static_cast<uint16_t>(p[2 * k] << 8 | p[2 * k + 1]) : p[k];
      stats_.AddTable(identifier, values);
      at_ += size;
      consumed += size;
    }
    return Next::Continue;
  }

  Next IccChunk(size_t length) {
    static constexpr uint8_t kIdentifier[12] = {'I', 'C', 'C', '_', 'P', 'R',
                                                'O', 'F', 'I', 'L', 'E', 0};
    if (length < 16) {
      Skip(length >= 2 ? length - 2 : 0);
      return Next::Continue;
    }
    if (Left() < 12) return Next::Stop;
    const bool identified =
        std::equal(std::begin(kIdentifier), std::end(kIdentifier), bytes_.begin() + at_);
    at_ += 12;
    if (!identified) {
      Skip(length - 14);
      return Next::Continue;
    }
    if (Left() < 2) return Next::Stop;
    const uint8_t sequence = bytes_[at_], count = bytes_[at_ + 1];
    at_ += 2;
    const size_t payload = length - 16;
    if (payload > Left()) return Next::Stop;  // a cut-short chunk adds nothing
    icc_.Add(sequence, count, bytes_.subspan(at_, payload));
    at_ += payload;
    return Next::Continue;
  }

  std::span<const uint8_t> bytes_;
  TJpegMetadata& m_;
  TResolution& dpi_;
  size_t at_ = 0;
  TQualityStatistics stats_;
  IccChunks icc_;
  bool exifRead_ = false;
  size_t iptcDatasets_ = 0;
  size_t keptPhotoshop_ = 0;
  size_t keptXmp_ = 0;
};

}  // namespace

void TJpegMetadata::ReadMetadata(TMemoryStream& data, TResolution& dpi) {
  FileInfo.Clear();
  IccProfile.Clear();
  Exif.Fields.Clear();
  Raw = TRawSegments();
  RewindOnExit rewind(data);
  MarkerWalk walk(data.Bytes(), *this, dpi);
  try {
    walk.Run();
  } catch (const EReadError&) {
    // What the segments before the failing one gave stands.
    IccProfile.ProfileData = TMemoryStream(walk.IccProfile());
    throw;
  }
  IccProfile.ProfileData = TMemoryStream(walk.IccProfile());
  const TQualityStatistics& stats = walk.Statistics();
  if (stats.Tables() > 0) {
    EstimatedQuality = *stats.Quality();
    QualityVariance = *stats.Variance();
  }
}

}  // namespace quorvex

#include "jpegextra/jpeg_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "jpegextra/jpeg_decoder.h"
#include "jpegextra/jpeg_encoder.h"
#include "jpegextra/jpeg_header.h"
#include "jpegextra/resolution.h"

namespace quorvex {

namespace {

// Offset of the density fields (unit, X, Y) in a file that starts with SOI and JFIF APP0.
constexpr size_t kDensityOffset = 13;
constexpr size_t kJfifHeaderSize = 20;
// JPEG error code of "the input is empty", raised when there are no bytes at all.
constexpr int kEmptyInputCode = 41;

// True when bytes start with SOI and a JFIF APP0 segment long enough to hold the density
// fields. Only then is writing the resolution at a fixed offset safe.
bool StartsWithJfif(std::span<const uint8_t> bytes) noexcept {
  static constexpr std::array<uint8_t, 4> kMarkers = {0xFF, 0xD8, 0xFF, 0xE0};
  static constexpr std::array<uint8_t, 5> kIdentifier = {'J', 'F', 'I', 'F', 0};
  if (bytes.size() < kJfifHeaderSize) return false;
  if (!std::equal(kMarkers.begin(), kMarkers.end(), bytes.begin())) return false;
  const int length = bytes[4] << 8 | bytes[5];
  return length >= 16 && std::equal(kIdentifier.begin(), kIdentifier.end(), bytes.begin() + 6);
}

}  // namespace

TJPEGImage::TJPEGImage()
    : holder_(std::make_shared<TJPEGExtraData>()),
      quality_(JPEGDefaults().Quality),
      grayscale_(JPEGDefaults().Grayscale),
      eightBitOutput_(JPEGDefaults().EightBitOutput),
      progressive_(JPEGDefaults().Progressive) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::LoadFromStream(TMemoryStream& stream) {
  const size_t remaining =
      stream.Size() > stream.Position() ? stream.Size() - stream.Position() : 0;
  if (remaining > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EOutOfMemory();
  ReadFromStream(static_cast<int32_t>(remaining), stream);
}

void TJPEGImage::ReadFromStream(int32_t count, TMemoryStream& stream) {
  if (count < 0) throw EReadError();
  ResetData();
  raster_.reset();
  auto data = std::make_unique<TMemoryStream>();
  data->SetSize(static_cast<size_t>(count));
  stream.ReadBuffer(data->Memory(), static_cast<size_t>(count));
  Load(std::move(data));
}

void TJPEGImage::LoadFromBytes(std::vector<uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EOutOfMemory();
  ResetData();
  raster_.reset();
  Load(std::make_unique<TMemoryStream>(std::move(bytes)));
}

void TJPEGImage::Load(std::unique_ptr<TMemoryStream> data) {
  holder_->Data = std::move(data);
  if (holder_->Data->Size() > 0) ParseHeader();
  holder_->Data->Seek(0);
  ReadMetadata();
}

void TJPEGImage::ParseHeader() {
  const TJPEGHeader header = ReadJPEGHeader(*holder_->Data, {grayscale_, eightBitOutput_}, limits_);
  holder_->Width = header.Width;
  holder_->Height = header.Height;
  holder_->Gray = header.Gray;
  holder_->Inks = header.Inks;
  progressive_ = header.Progressive;
  holder_->XDPI = DensityToDPI(header.DensityUnit, header.XDensity);
  holder_->YDPI = DensityToDPI(header.DensityUnit, header.YDensity);
}

void TJPEGImage::SaveToStream(TMemoryStream& stream) {
  EnsureEncoded();
  // No data after encoding means the progress handler cancelled it: pass that on.
  if (Data() == nullptr) throw EAbort();
  if (Data()->Size() == 0) throw EInvalidGraphic("No image loaded.");
  WriteMetadata();
  const std::span<const uint8_t> bytes = Data()->Bytes();
  const size_t start = stream.Position();
  stream.Write(bytes.data(), bytes.size());
  if (StartsWithJfif(bytes)) {
    const uint16_t x = holder_->XDPI;
    const uint16_t y = holder_->YDPI;
    const std::array<uint8_t, 5> density = {
        1, static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x & 0xFF),
        static_cast<uint8_t>(y >> 8), static_cast<uint8_t>(y & 0xFF)};
    stream.Seek(start + kDensityOffset);
    stream.Write(density.data(), density.size());
  }
  stream.Seek(start);
}

void TJPEGImage::Assign(const TBitmap& source) {
  auto raster = std::make_unique<TBMPImage>();
  raster->CopyFrom(source);
  const auto* bmp = dynamic_cast<const TBMPImage*>(&source);
  if (bmp != nullptr) {
    raster->SetXPelsPerMeter(bmp->XPelsPerMeter());
    raster->SetYPelsPerMeter(bmp->YPelsPerMeter());
  }
  ResetData();
  raster_ = std::move(raster);
  if (bmp != nullptr) {
    holder_->XDPI = PelsPerMeterToDPI(bmp->XPelsPerMeter());
    holder_->YDPI = PelsPerMeterToDPI(bmp->YPelsPerMeter());
  }
}

void TJPEGImage::Assign(const TJPEGImage& source) {
  if (&source == this) return;
  std::unique_ptr<TBMPImage> raster;
  if (source.raster_) {
    raster = std::make_unique<TBMPImage>();
    raster->CopyFrom(*source.raster_);
    raster->SetXPelsPerMeter(source.raster_->XPelsPerMeter());
    raster->SetYPelsPerMeter(source.raster_->YPelsPerMeter());
  }
  // The shared holder carries the source's DPI. Without a source raster ours is dropped too,
  // so that decoding shows the shared data and not the old picture.
  holder_ = source.holder_;
  raster_ = std::move(raster);
  if (raster_) AssignMetadata(source);
}

void TJPEGImage::AssignTo(TBitmap& target) {
  const TBMPImage& raster = Decode();
  target.CopyFrom(raster);
  if (auto* bmp = dynamic_cast<TBMPImage*>(&target)) {
    bmp->SetXPelsPerMeter(DPIToPelsPerMeter(holder_->XDPI));
    bmp->SetYPelsPerMeter(DPIToPelsPerMeter(holder_->YDPI));
  }
}

TBMPImage& TJPEGImage::Decode() {
  if (raster_) return *raster_;
  auto raster = std::make_unique<TBMPImage>();
  try {
    Progress(TProgressStage::psStarting, 0, false, {});
    if (Data() == nullptr) throw EJPEG(kEmptyInputCode);
    DecodeJPEG(*Data(), {grayscale_, eightBitOutput_, decodeScale_, toSrgb_.get()}, limits_,
               *raster, this);
  } catch (const EAbort&) {
    // Cancelled: keep the rows decoded so far.
    ReportEnd(true);
    raster_ = std::move(raster);
    return *raster_;
  } catch (const std::bad_alloc&) {
    ReportEnd(true);
    throw EOutOfMemory();
  } catch (...) {
    ReportEnd(true);
    throw;
  }
  ReportEnd(false);
  raster_ = std::move(raster);
  return *raster_;
}

void TJPEGImage::Encode() {
  if (holder_->Data) ResetData();
  holder_->Data = std::make_unique<TMemoryStream>();
  if (!raster_ || raster_->Empty()) return;
  holder_->Width = raster_->Width();
  holder_->Height = raster_->Height();
  if (grayscale_) {
    ConvertRasterToGray();
    holder_->Gray = true;
  }
  TBitmap image;
  image.CopyFrom(*raster_);
  if (!grayscale_) image.SetPixelFormat(TPixelFormat::pf24bit);

  // A failed or cancelled encode keeps no data, so a later EnsureEncoded tries again instead of
  // saving a partial file.
  try {
    Progress(TProgressStage::psStarting, 0, false, {});
    EncodeJPEG(image, {quality_, grayscale_, progressive_, optimizeCoding_}, *holder_->Data, this);
  } catch (const EAbort&) {
    ReportEnd(true);
    holder_->Data.reset();
    return;
  } catch (const std::bad_alloc&) {
    ReportEnd(true);
    holder_->Data.reset();
    throw EOutOfMemory();
  } catch (...) {
    ReportEnd(true);
    holder_->Data.reset();
    throw;
  }
  ReportEnd(false);
}

void TJPEGImage::EnsureEncoded() {
  if (!holder_->Data) Encode();
}

void TJPEGImage::ResetData() {
  holder_ = std::make_shared<TJPEGExtraData>();
}

void TJPEGImage::ConvertRasterToGray() {
  TBMPImage gray;
  std::array<TPaletteEntry, kMaxPaletteEntries> ramp;
  for (int i = 0; i < kMaxPaletteEntries; ++i) {
    const auto level = static_cast<uint8_t>(i);
    ramp[i] = {level, level, level, 0};
  }
  gray.SetPixelFormat(TPixelFormat::pf8bit);
  gray.SetPalette(ramp);
  gray.SetSize(raster_->Width(), raster_->Height());
  const int32_t width = raster_->Width();
  const bool indexed = raster_->PixelFormat() == TPixelFormat::pf8bit;
  const std::span<const TPaletteEntry> palette = raster_->Palette();
  const TPaletteEntry none;
  for (int32_t y = 0; y < raster_->Height(); ++y) {
    const uint8_t* from = raster_->ScanLine(y);
    uint8_t* to = gray.Row(y);
    for (int32_t x = 0; x < width; ++x) {
      int sum;
      if (indexed) {
        // Through the palette, as a conversion to 24-bit colour would.
        const TPaletteEntry& entry = from[x] < palette.size() ? palette[from[x]] : none;
        sum = entry.Blue + entry.Green + entry.Red;
      } else {
        sum = from[3 * x] + from[3 * x + 1] + from[3 * x + 2];
      }
      to[x] = static_cast<uint8_t>(sum / 3);
    }
  }
  gray.SetXPelsPerMeter(raster_->XPelsPerMeter());
  gray.SetYPelsPerMeter(raster_->YPelsPerMeter());
  raster_->Swap(gray);
}

int32_t TJPEGImage::Width() const noexcept {
  return raster_ ? raster_->Width() : holder_->Width;
}

int32_t TJPEGImage::Height() const noexcept {
  return raster_ ? raster_->Height() : holder_->Height;
}

void TJPEGImage::SetWidth(int32_t) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::SetHeight(int32_t) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

bool TJPEGImage::IsEmpty() const noexcept {
  if (Data() != nullptr && Data()->Size() != 0) return false;
  return !raster_ || raster_->Empty();
}

bool TJPEGImage::Equals(const TJPEGImage& other) const {
  if (Data() != nullptr && other.Data() != nullptr) {
    const auto mine = Data()->Bytes();
    const auto theirs = other.Data()->Bytes();
    return std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end());
  }
  return holder_ == other.holder_;
}

uint32_t TJPEGImage::GetXDPI() const noexcept {
  return holder_->XDPI;
}
uint32_t TJPEGImage::GetYDPI() const noexcept {
  return holder_->YDPI;
}
void TJPEGImage::SetXDPI(uint32_t dpi) noexcept {
  holder_->XDPI = static_cast<uint16_t>(dpi);
}
void TJPEGImage::SetYDPI(uint32_t dpi) noexcept {
  holder_->YDPI = static_cast<uint16_t>(dpi);
}

bool TJPEGImage::GetGrayscale() const noexcept {
  return grayscale_ || holder_->Gray;
}

TColorKind TJPEGImage::ColorKind() const noexcept {
  // The library cannot turn CMYK gray: those files decode to colour whatever the setting.
  if (holder_->Inks) return TColorKind::Cmyk;
  return GetGrayscale() ? TColorKind::Gray : TColorKind::Rgb;
}

void TJPEGImage::Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow,
                          const TProgressRect& rect) {
  if (onProgress_) onProgress_(*this, stage, percentDone, redrawNow, rect, std::string());
}

uint32_t TJPEGImage::Ticks() const {
  return ticks_ ? ticks_() : SteadyTickCount();
}

void TJPEGImage::ReportEnd(bool failed) noexcept {
  // The operation's own outcome stands; a handler failing at the end does not change it.
  try {
    Progress(TProgressStage::psEnding, failed ? 0 : 100, false, {});
  } catch (...) {
  }
}

}  // namespace quorvex

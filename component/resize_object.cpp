#include "component/resize_object.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

#include "component/component_errors.h"
#include "component/file_access.h"
#include "comserver/text_conversion.h"
#include "imaging/memory_pages.h"
#include "jpegextra/memory_stream.h"
#include "jpegextra/metadata/jpeg_image_extra.h"
#include "quorvex_version.h"

namespace quorvex {

namespace {

constexpr char kNoImage[] = "No image loaded.";
constexpr char kVariantInFailed[] = "VariantIn has failed to read an image.";

// References to references are followed; a chain this deep can only be a loop.
constexpr int kMaxVariantReferenceDepth = 64;

class ArrayDataLock {
 public:
  explicit ArrayDataLock(SAFEARRAY* array) : array_(array) {
    if (FAILED(SafeArrayAccessData(array_, &data_))) throw EVariantError();
  }
  ~ArrayDataLock() { SafeArrayUnaccessData(array_); }
  ArrayDataLock(const ArrayDataLock&) = delete;
  ArrayDataLock& operator=(const ArrayDataLock&) = delete;
  uint8_t* data() const { return static_cast<uint8_t*>(data_); }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

struct ArrayDestroyer {
  void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};

SAFEARRAY* FindArray(const VARIANT& value) {
  const VARIANT* current = &Dereferenced(value);
  if ((V_VT(current) & VT_ARRAY) == 0) throw EVariantError();
  SAFEARRAY* array = V_ISBYREF(current)
                         ? (V_ARRAYREF(current) != nullptr ? *V_ARRAYREF(current) : nullptr)
                         : V_ARRAY(current);
  if (array == nullptr || array->cDims == 0) throw EVariantError();
  return array;
}

// The bytes of the array's first dimension, never more than the array holds in all.
std::vector<uint8_t> CopyArrayBytes(SAFEARRAY* array) {
  LONG lower = 0, upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    throw EVariantError();
  const int64_t count = int64_t{upper} - lower + 1;
  uint64_t held = array->cbElements;
  for (USHORT i = 0; i < array->cDims && held != 0; ++i)
    held = array->rgsabound[i].cElements == 0
               ? 0
               : std::min<uint64_t>(held * array->rgsabound[i].cElements, kMaxFileBytes + 1);
  const size_t n = static_cast<size_t>(std::clamp<int64_t>(count, 0, static_cast<int64_t>(held)));
  ArrayDataLock lock(array);
  std::vector<uint8_t> bytes;
  bytes.reserve(n);
  MapLargeBlock(bytes.data(), bytes.capacity());
  bytes.assign(lock.data(), lock.data() + n);
  return bytes;
}

}  // namespace

const VARIANT& Dereferenced(const VARIANT& value) {
  const VARIANT* current = &value;
  for (int depth = 0; V_VT(current) == (VT_BYREF | VT_VARIANT); ++depth) {
    current = V_VARIANTREF(current);
    if (current == nullptr || depth == kMaxVariantReferenceDepth) throw EVariantError();
  }
  return *current;
}

TResize::TResize(TComObjectFactory* factory, IUnknown* outer) : TASPMTSObject(factory, outer) {}
TResize::~TResize() = default;

void* TResize::GetInterface(REFIID iid) noexcept {
  if (IsEqualIID(iid, IID_IResize) || IsEqualIID(iid, IID_IResize2) ||
      IsEqualIID(iid, IID_IResize3))
    return static_cast<IResize3*>(&interface_);
  return TASPMTSObject::GetInterface(iid);
}

void TResize::SetDPI(LONG value) noexcept {
  dpi_ = std::clamp<LONG>(value, 0, 65535);
}

void TResize::SetJPGQuality(LONG value) noexcept {
  jpgQuality_ = std::clamp<LONG>(value, 0, 100);
}

LONG TResize::MaxPixels() const noexcept {
  return static_cast<LONG>(loadLimits_.MaxPixels);
}

void TResize::SetMaxPixels(LONG value) noexcept {
  loadLimits_.MaxPixels =
      value <= 0 ? kMaxRasterPixels : std::min<int64_t>(value, kMaxRasterPixels);
}

BSTR TResize::Version() const {
  return Utf8ToNewBstr(QUORVEX_VERSION_TEXT);
}

void TResize::LoadJpeg(std::vector<uint8_t> bytes, TThumbnailLoad* thumbnail) {
  TJPEGImageExtra jpeg;
  jpeg.SetLoadLimits(loadLimits_);
  // The profile is read on every load, so that KeepMetadata may be turned on afterwards.
  jpeg.SetUseIccProfile(true);
  jpeg.LoadFromBytes(std::move(bytes));
  jpeg.SetDecodeScale(DecodeScaleFor(jpeg, thumbnail));
  TColorLoad color = PlanColor(jpeg, thumbnail);
  TBitmap decoded;
  jpeg.AssignTo(decoded);
  FinishLoad(jpeg, decoded, color);
}

void TResize::CopySettingsFrom(const TResize& other) noexcept {
  dpi_ = other.dpi_;
  jpgQuality_ = other.jpgQuality_;
  grayScale_ = other.grayScale_;
  backgroundColor_ = other.backgroundColor_;
  autoOrient_ = other.autoOrient_;
  keepMetadata_ = other.keepMetadata_;
  keptParts_ = other.keptParts_;
  convertToSrgb_ = other.convertToSrgb_;
  progressive_ = other.progressive_;
  optimizeCoding_ = other.optimizeCoding_;
  gravity_ = other.gravity_;
  cover_ = other.cover_;
  sharpen_ = other.sharpen_;
  outputFormat_ = other.outputFormat_;
  loadLimits_ = other.loadLimits_;
}

void TResize::AdoptLoadFrom(TResize& other) noexcept {
  ReplaceImage(other.image_);
  dpi_ = other.dpi_;
  grayScale_ = other.grayScale_;
  orientation_ = other.orientation_;
  sourceQuality_ = other.sourceQuality_;
  pictureFacts_ = std::move(other.pictureFacts_);
  metadata_ = other.metadata_;
  colorProfile_.swap(other.colorProfile_);
  srgbConverted_ = other.srgbConverted_;
}

void TResize::LoadFromFile(BSTR Filename) {
  LoadFile(Filename, nullptr);
}

void TResize::VariantIn(const VARIANT& JPGData) {
  LoadArray(JPGData, nullptr);
}

void TResize::LoadFile(BSTR Filename, TThumbnailLoad* thumbnail) {
  const std::string name = BstrToFileName(Filename);
  if (!IsExistingFile(name)) throw EInvalidGraphic("File not found or permission incorrect.");
  try {
    LoadJpeg(ReadWholeFile(name), thumbnail);
  } catch (const EFOpenError&) {
    throw EInvalidGraphic("Cannot open file - the permission may be incorrect.");
  } catch (const std::exception&) {
    throw EInvalidGraphic("Invalid file.");
  }
}

void TResize::LoadArray(const VARIANT& JPGData, TThumbnailLoad* thumbnail) {
  // The argument is only read and never kept, so its bytes are copied once, straight into the
  // data the JPEG object keeps.
  std::vector<uint8_t> bytes = CopyArrayBytes(FindArray(JPGData));
  try {
    LoadJpeg(std::move(bytes), thumbnail);
  } catch (const std::exception&) {
    throw EInvalidGraphic(kVariantInFailed);
  }
  if (image_.Height() == 0) throw EInvalidGraphic(kVariantInFailed);
}

void TResize::RequireImage() const {
  // An empty raster encodes to no JPEG at all; refuse rather than hand out undefined bytes.
  if (image_.Empty()) throw EInvalidGraphic(kNoImage);
}

std::vector<uint8_t> TResize::EncodeImage() const {
  if (outputFormat_ != TOutputFormat::Jpeg) return EncodeInOutputFormat();
  TJPEGImageExtra jpeg;
  jpeg.Assign(image_);
  jpeg.SetQuality(static_cast<uint8_t>(jpgQuality_));
  jpeg.SetXDPI(static_cast<uint16_t>(dpi_));
  jpeg.SetYDPI(static_cast<uint16_t>(dpi_));
  jpeg.SetGrayscale(grayScale_);
  jpeg.SetProgressive(progressive_);
  jpeg.SetOptimizeCoding(optimizeCoding_);
  PutKeptMetadata(jpeg);
  TMemoryStream stream;
  jpeg.SaveToStream(stream);
  return stream.Release();
}

void TResize::SaveToFile(BSTR Filename) {
  RequireImage();
  try {
    // Encoding finishes before the file is touched, so a failed encoding leaves it alone.
    const std::vector<uint8_t> bytes = EncodeImage();
    WriteWholeFile(BstrToFileName(Filename), bytes);
  } catch (const std::exception&) {
    throw EInvalidGraphic("Cannot write file: " + BstrToUtf8(Filename));
  }
}

SAFEARRAY* TResize::EncodeToArray() const {
  RequireImage();
  const std::vector<uint8_t> bytes = EncodeImage();
  if (bytes.size() > 0xFFFFFFFFu) throw EOutOfMemory();
  std::unique_ptr<SAFEARRAY, ArrayDestroyer> array(
      SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(bytes.size())));
  if (!array) throw EOutOfMemory();
  {
    ArrayDataLock lock(array.get());
    std::memcpy(lock.data(), bytes.data(), bytes.size());
  }
  return array.release();
}

void TResize::VariantOut(VARIANT* Value) {
  if (Value == nullptr) throw EVariantError();
  VariantInit(Value);
  V_ARRAY(Value) = EncodeToArray();
  V_VT(Value) = VT_ARRAY | VT_UI1;
}

}  // namespace quorvex

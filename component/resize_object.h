// The Resize object: one image in memory plus the settings used whenever it is written as JPEG.
// Member bodies raise exceptions; the automation layer turns them into result codes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "component/com_object.h"
#include "component/resize_interface.h"
#include "imaging/raster_image.h"
#include "jpegextra/load_limits.h"
#include "platform/winapi.h"

namespace quorvex {

class TJPEGImageExtra;
struct TKeptMetadata;

// The variant a chain of VT_BYREF | VT_VARIANT references ends at, as the loads read their
// argument; a chain too deep to be anything but a loop, or a null link, is an invalid argument.
const VARIANT& Dereferenced(const VARIANT& value);

class TResize : public TASPMTSObject {
 public:
  // Without a factory the object serves C++ callers directly; the server makes it with one.
  explicit TResize(TComObjectFactory* factory = nullptr, IUnknown* outer = nullptr);
  ~TResize() override;
  TResize(const TResize&) = delete;
  TResize& operator=(const TResize&) = delete;

  // Properties.
  LONG Width() const noexcept { return image_.Width(); }
  LONG Height() const noexcept { return image_.Height(); }
  LONG DPI() const noexcept { return dpi_; }
  void SetDPI(LONG value) noexcept;
  LONG JPGQuality() const noexcept { return jpgQuality_; }
  void SetJPGQuality(LONG value) noexcept;
  VARIANT_BOOL GrayScale() const noexcept { return grayScale_ ? VARIANT_TRUE : VARIANT_FALSE; }
  void SetGrayScale(VARIANT_BOOL value) noexcept { grayScale_ = value != 0; }
  OLE_COLOR BackgroundColor() const noexcept { return backgroundColor_; }
  void SetBackgroundColor(OLE_COLOR value) noexcept { backgroundColor_ = value; }
  // A new string owned by the caller.
  BSTR Version() const;

  // Settings of IResize2. AutoOrient turns every load upright by its EXIF orientation;
  // KeepMetadata writes the loaded metadata with the image; MaxPixels bounds every load and
  // transform (values <= 0 restore the built-in limit, larger ones are cut to it).
  VARIANT_BOOL AutoOrient() const noexcept { return autoOrient_ ? VARIANT_TRUE : VARIANT_FALSE; }
  void SetAutoOrient(VARIANT_BOOL value) noexcept { autoOrient_ = value != 0; }
  VARIANT_BOOL KeepMetadata() const noexcept {
    return keepMetadata_ ? VARIANT_TRUE : VARIANT_FALSE;
  }
  void SetKeepMetadata(VARIANT_BOOL value) noexcept { keepMetadata_ = value != 0; }
  LONG MaxPixels() const noexcept;
  void SetMaxPixels(LONG value) noexcept;
  VARIANT_BOOL Progressive() const noexcept { return progressive_ ? VARIANT_TRUE : VARIANT_FALSE; }
  void SetProgressive(VARIANT_BOOL value) noexcept { progressive_ = value != 0; }
  VARIANT_BOOL OptimizeCoding() const noexcept {
    return optimizeCoding_ ? VARIANT_TRUE : VARIANT_FALSE;
  }
  void SetOptimizeCoding(VARIANT_BOOL value) noexcept { optimizeCoding_ = value != 0; }
  // What the last load found: the EXIF orientation (1 without one) and the estimated quality
  // (0 when unknown).
  LONG Orientation() const noexcept { return orientation_; }
  LONG SourceQuality() const noexcept { return sourceQuality_; }

  // Loading. A file over the load limits fails like any other invalid file.
  void LoadFromFile(BSTR Filename);
  void VariantIn(const VARIANT& JPGData);
  // Loads Source (a file name, or a byte array as VariantIn takes it) already fitted into the
  // box: the size, DPI, grayscale and messages of a load followed by ResizeBox.
  void LoadThumbnail(const VARIANT& Source, LONG Width, LONG Height);
  // The bounds of every load of this object (jpegextra/load_limits.h); a host may change them.
  const TLoadLimits& LoadLimits() const noexcept { return loadLimits_; }
  void SetLoadLimits(const TLoadLimits& limits) noexcept { loadLimits_ = limits; }

  // Output. VariantOut fills a byte array with bounds 1..N; Value is emptied first.
  void SaveToFile(BSTR Filename);
  void VariantOut(VARIANT* Value);
  // Writes the JPEG into the response of the current web request.
  void StreamImage();

  // Transforms. Each builds its result aside and makes it the image only as its last step, so a
  // failing transform leaves the image as it was.
  void ResizeImage(LONG Width, LONG Height);
  void ScaleImage(LONG Factor);
  void ResizeBox(LONG Width, LONG Height);
  void RotateImage(FLOAT Angle);
  void CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2);
  void FlipHorizontal();
  void FlipVertical();

  // The load step that turns a decoded picture upright by the orientation its file recorded,
  // when AutoOrient is on. Returns whether it turned anything.
  bool OrientLoaded(TBitmap& decoded, LONG orientation) const;

  // The current image, read-only, for tests and tools.
  const TBitmap& Image() const noexcept { return image_; }

 protected:
  // The current image as JPEG bytes with the object's quality, DPI and grayscale settings.
  std::vector<uint8_t> EncodeImage() const;
  // Makes result the current image; the last step of every successful load and transform.
  void ReplaceImage(TBitmap& result) noexcept { image_.Swap(result); }
  TBitmap& MutableImage() noexcept { return image_; }
  void* GetInterface(REFIID iid) noexcept override;
  IDispatch* DispatchInterfaceEntry() noexcept override { return &interface_; }

 private:
  // A LoadThumbnail under way: its box and, once the header is read, the exact size the load
  // ends at when it decodes at a reduced scale.
  struct TThumbnailLoad {
    LONG BoxWidth = 0;
    LONG BoxHeight = 0;
    bool Scaled = false;
    int32_t Width = 0;
    int32_t Height = 0;
  };

  void LoadJpeg(std::vector<uint8_t> bytes);
  // The end of every load: orients the decoded picture, keeps the metadata of the loaded object
  // and makes both, with what the load found, the object's state. Nothing changes if it fails.
  void FinishLoad(TJPEGImageExtra& jpeg, TBitmap& decoded);
  // With KeepMetadata on, gives the encoder the metadata kept from the last load.
  void PutKeptMetadata(TJPEGImageExtra& encoder) const;
  // The eighths of full size a load decodes at: 8 unless a thumbnail load can finish from a
  // smaller picture (resize_thumbnail.cpp).
  uint8_t DecodeScaleFor(const TJPEGImageExtra& jpeg);
  // The settings a load and its output work with, taken from another object.
  void CopySettingsFrom(const TResize& other) noexcept;
  // Makes what other loaded (image, DPI, grayscale and what the load found) this object's own.
  void AdoptLoadFrom(TResize& other) noexcept;
  // The encoded image as a byte array with bounds 1..N, owned by the caller.
  SAFEARRAY* EncodeToArray() const;
  void ResizeTo(int64_t width, int64_t height);
  void RequireImage() const;

  TBitmap image_;
  LONG dpi_ = 0;
  LONG jpgQuality_ = 90;
  bool grayScale_ = false;
  OLE_COLOR backgroundColor_ = 0xFFFFFF;
  bool autoOrient_ = false;
  bool keepMetadata_ = false;
  bool progressive_ = false;
  bool optimizeCoding_ = false;
  LONG orientation_ = 1;
  LONG sourceQuality_ = 0;
  // Shared with objects that adopt this one's load, never changed once made.
  std::shared_ptr<const TKeptMetadata> metadata_;
  TLoadLimits loadLimits_;
  std::optional<TThumbnailLoad> thumbnail_;
  TResizeInterface interface_{*this};
};

}  // namespace quorvex

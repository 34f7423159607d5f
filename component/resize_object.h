// The Resize object: one image in memory plus the settings used whenever it is written as JPEG.
// Member bodies raise exceptions; the automation layer turns them into result codes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/resize_interface.h"
#include "comserver/com_object.h"
#include "imageformats/output_format.h"
#include "imaging/fill_box.h"
#include "imaging/halftone.h"
#include "imaging/raster_image.h"
#include "jpegextra/load_limits.h"
#include "jpegextra/metadata/metadata_json.h"
#include "jpegextra/metadata/metadata_parts.h"
#include "platform/winapi.h"

namespace quorvex {

class TJPEGImageExtra;
class TColorTransform;
struct TKeptMetadata;
struct TOutputPicture;

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

  // Settings of IResize3 for fitting. Gravity places FillBox's cut ("center", a compass point,
  // "attention" or "entropy"); Fit "cover" makes LoadThumbnail fill its box instead of fitting
  // inside it; Sharpen is the strength of the unsharp mask after every shrink (0 = none). Names
  // are taken in any case; an unknown one fails and changes nothing.
  BSTR Gravity() const;
  void SetGravity(BSTR value);
  BSTR Fit() const;
  void SetFit(BSTR value);
  double Sharpen() const noexcept { return sharpen_; }
  void SetSharpen(double value);
  // Settings of IResize3. The format every output writes ("jpeg", "webp", "avif" or "png", any
  // case; another name fails and changes nothing), and the media type StreamImage announces.
  BSTR OutputFormat() const;
  void SetOutputFormat(BSTR value);
  BSTR ContentType() const;

  // Setting of IResize3: which metadata output keeps, a comma list of exif, gps, iptc, xmp and
  // icc; the empty list leaves it to KeepMetadata (all or none). An unknown name raises and
  // leaves the setting as it was. The getter gives the list in that order.
  std::string KeepMetadataParts() const;
  void SetKeepMetadataParts(std::string_view list);

  // Settings of IResize3 for colour. With ConvertToSRGB on, every load converts the pixels from
  // the embedded ICC profile (CMYK without one: the default CMYK profile) to sRGB, and output
  // then carries no profile; a profile that cannot be used leaves the pixels as decoded.
  // ColorProfile is the description of the last load's embedded profile, "" when it has none
  // or one that cannot be used.
  VARIANT_BOOL ConvertToSRGB() const noexcept {
    return convertToSrgb_ ? VARIANT_TRUE : VARIANT_FALSE;
  }
  void SetConvertToSRGB(VARIANT_BOOL value);
  const std::string& ColorProfile() const noexcept { return colorProfile_; }

  // The last load's metadata as JSON text (jpegextra/metadata/metadata_json.h); "{}" before
  // any load.
  std::string Metadata() const;

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
  // Exactly Width x Height: scaled (never enlarged) until the picture covers the box, then cut
  // along the Gravity. A picture smaller than the box gives the largest cut of the box's aspect it
  // holds; a side <= 0 is derived from the other as ResizeImage derives it.
  void FillBox(LONG Width, LONG Height);

  // The load step that turns a decoded picture upright by the orientation its file recorded,
  // when AutoOrient is on. Returns whether it turned anything.
  bool OrientLoaded(TBitmap& decoded, LONG orientation) const;

  // The current image, read-only, for tests and tools.
  const TBitmap& Image() const noexcept { return image_; }

 protected:
  // The current image in the output format with the object's quality, DPI and grayscale settings.
  std::vector<uint8_t> EncodeImage() const;
  // Makes result the current image; the last step of every successful load and transform.
  void ReplaceImage(TBitmap& result) noexcept { image_.Swap(result); }
  TBitmap& MutableImage() noexcept { return image_; }
  void* GetInterface(REFIID iid) noexcept override;
  IDispatch* DispatchInterfaceEntry() noexcept override { return &interface_; }

 private:
  // The plan a LoadThumbnail hands to its load: the box; the load completes it, once the header
  // is read, with the exact size it ends at when it decodes at a reduced scale.
  struct TThumbnailLoad {
    LONG BoxWidth = 0;
    LONG BoxHeight = 0;
    bool Scaled = false;
    int32_t Width = 0;
    int32_t Height = 0;
    // What the scaled (and turned) picture's columns and rows stand for of the full frame.
    TSourceExtent ExtentX;
    TSourceExtent ExtentY;
    // The conversion to sRGB left for the shrunk picture.
    std::shared_ptr<const TColorTransform> ToSrgb;
  };
  // What a load does about colour: the profile's description, and whether its pixels become
  // sRGB.
  struct TColorLoad {
    std::string Description;
    bool Converted = false;
  };

  // LoadFromFile and VariantIn, given the plan of a thumbnail load (or nullptr for a plain one).
  void LoadFile(BSTR Filename, TThumbnailLoad* thumbnail);
  void LoadArray(const VARIANT& JPGData, TThumbnailLoad* thumbnail);
  void LoadJpeg(std::vector<uint8_t> bytes, TThumbnailLoad* thumbnail);
  // The end of every load: orients the decoded picture, keeps the metadata of the loaded object
  // and makes both, with what the load found, the object's state. Nothing changes if it fails.
  void FinishLoad(TJPEGImageExtra& jpeg, TBitmap& decoded, TColorLoad& color);
  // Reads the profile of a loaded file and, with ConvertToSRGB on, gives the decode (or, for a
  // scaled thumbnail, the shrunk picture) its conversion (resize_color.cpp).
  TColorLoad PlanColor(TJPEGImageExtra& jpeg, TThumbnailLoad* thumbnail);
  // With KeepMetadata on, gives the encoder the metadata kept from the last load.
  // The metadata parts the output keeps (nullopt: none), and what it is as a picture.
  std::optional<TMetadataParts> KeptParts() const;
  TOutputPicture OutputPicture() const;
  void PutKeptMetadata(TJPEGImageExtra& encoder) const;
  // EncodeImage for the formats other than JPEG (resize_formats.cpp).
  std::vector<uint8_t> EncodeInOutputFormat() const;
  // The eighths of full size a load decodes at: 8 unless a thumbnail load can finish from a
  // smaller picture, which its plan then describes (resize_thumbnail.cpp).
  uint8_t DecodeScaleFor(const TJPEGImageExtra& jpeg, TThumbnailLoad* thumbnail) const;
  // The settings a load and its output work with, taken from another object.
  void CopySettingsFrom(const TResize& other) noexcept;
  // Makes what other loaded (image, DPI, grayscale and what the load found) this object's own.
  void AdoptLoadFrom(TResize& other) noexcept;
  // The encoded image as a byte array with bounds 1..N, owned by the caller.
  SAFEARRAY* EncodeToArray() const;
  // The image resized to width x height (sharpened after a shrink), within the pixel bound.
  // With extents, the image is a scaled decode whose picture covers only that much of it.
  std::unique_ptr<TBitmap> Resized(int64_t width, int64_t height,
                                   const TThumbnailLoad* extents = nullptr) const;
  void ResizeTo(int64_t width, int64_t height);
  // Makes the `cut` window of picture, placed by the Gravity, the image.
  void CutAlongGravity(const TBitmap& picture, TSize cut);
  void RequireImage() const;

  TBitmap image_;
  LONG dpi_ = 0;
  LONG jpgQuality_ = 90;
  bool grayScale_ = false;
  OLE_COLOR backgroundColor_ = 0xFFFFFF;
  bool autoOrient_ = false;
  bool keepMetadata_ = false;
  // Set only by a non-empty KeepMetadataParts; the parts are then kept whatever KeepMetadata says.
  std::optional<TMetadataParts> keptParts_;
  bool convertToSrgb_ = false;
  std::string colorProfile_;
  // The image's pixels were converted to sRGB by its load, so its source profile is not kept.
  bool srgbConverted_ = false;
  bool progressive_ = false;
  bool optimizeCoding_ = false;
  TGravity gravity_ = TGravity::Center;
  bool cover_ = false;
  double sharpen_ = 0;
  LONG orientation_ = 1;
  LONG sourceQuality_ = 0;
  TPictureFacts pictureFacts_;
  TOutputFormat outputFormat_ = TOutputFormat::Jpeg;
  // Shared with objects that adopt this one's load, never changed once made.
  std::shared_ptr<const TKeptMetadata> metadata_;
  TLoadLimits loadLimits_;
  TResizeInterface interface_{*this};
};

}  // namespace quorvex

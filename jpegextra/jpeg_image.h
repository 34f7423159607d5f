// The JPEG image object: holds one JPEG file's compressed bytes, parses their header, decodes
// them into a raster image, encodes a raster image and saves the bytes with the resolution in
// the JFIF header. Metadata is left to a derived class through the protected hooks.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "imaging/raster_image.h"
#include "jpegextra/color_transform.h"
#include "jpegextra/jpeg_defaults.h"
#include "jpegextra/jpeg_errors.h"
#include "jpegextra/jpeg_progress.h"
#include "jpegextra/load_limits.h"
#include "jpegextra/memory_stream.h"

namespace quorvex {

// Compressed bytes and the values read from their header. Objects assigned from one another
// share one holder; Encode and loading take a fresh one.
struct TJPEGExtraData {
  std::unique_ptr<TMemoryStream> Data;  // the complete JPEG file; none for a new holder
  int32_t Width = 0;                    // from the frame header, or the encoded raster
  int32_t Height = 0;
  bool Gray = false;  // single-component data
  bool Inks = false;  // CMYK or YCCK data
  uint16_t XDPI = 0;  // dots per inch; 0 = none given
  uint16_t YDPI = 0;
};

class TJPEGImage {
 public:
  TJPEGImage();
  virtual ~TJPEGImage();
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  // Loads everything from the stream's position to its end. Parses the header (size, gray
  // flag, progressive flag, JFIF resolution), then runs ReadMetadata. Pixels are decoded only
  // when asked for. A frame that the load limits do not admit (more pixels than allowed, or a
  // raster and decoder buffers over the memory budget with the current Grayscale and
  // EightBitOutput settings) is refused here with EOutOfMemory, before any pixel memory is
  // taken. Zero bytes load without error; decoding them fails.
  void LoadFromStream(TMemoryStream& stream);
  // Loads exactly count bytes from the stream (EReadError if fewer are there).
  void ReadFromStream(int32_t count, TMemoryStream& stream);
  // Loads bytes as the complete file, like LoadFromStream, keeping them as the data without a
  // copy.
  void LoadFromBytes(std::vector<uint8_t> bytes);

  // The bounds of loading and decoding (see jpegextra/load_limits.h); set before loading.
  const TLoadLimits& LoadLimits() const noexcept { return limits_; }
  void SetLoadLimits(const TLoadLimits& limits) noexcept { limits_ = limits; }

  // Encodes if needed, runs WriteMetadata, writes the JPEG bytes at the stream's position and
  // puts the resolution (unit 1 = dots per inch, XDPI, YDPI) into the JFIF density fields.
  // Data that does not start with a JFIF APP0 segment is written unchanged. An object without
  // an image raises EInvalidGraphic "No image loaded." and writes nothing; an encode cancelled
  // by the progress handler raises EAbort and writes nothing.
  void SaveToStream(TMemoryStream& stream);

  // Takes a copy of the pixels; a TBMPImage source also gives its resolution as DPI.
  void Assign(const TBitmap& source);
  // Shares the source's compressed data (and so its DPI) and copies its raster, if any.
  void Assign(const TJPEGImage& source);
  // Decodes and makes target a copy of the raster. A TBMPImage target gets the resolution in
  // pixels per metre. The decoded raster is kept, so a second call gives the same image.
  void AssignTo(TBitmap& target);

  // The decoded raster: 24-bit blue-green-red for colour data; 8-bit indexed with a gray
  // palette for grayscale data (or with Grayscale on); 8-bit quantized colour with
  // EightBitOutput on. CMYK and YCCK data always decode to 24-bit colour. Decoded once, then
  // cached. A failed decode keeps no raster, so the next call fails again. The load limits
  // hold here too: over them, EOutOfMemory or EJPEG.
  TBMPImage& Decode();
  // Compresses the raster into new Data (none if there is no raster or it is empty).
  void Encode();
  void EnsureEncoded();
  // Takes a new, empty data holder (no Data, size 0, DPI 0).
  void ResetData();

  int32_t Width() const noexcept;
  int32_t Height() const noexcept;
  // A JPEG image cannot be resized: both raise EInvalidGraphicOperation.
  [[noreturn]] void SetWidth(int32_t width);
  [[noreturn]] void SetHeight(int32_t height);
  bool IsEmpty() const noexcept;
  // Same compressed bytes, or (without Data on either side) the same data holder.
  bool Equals(const TJPEGImage& other) const;

  uint32_t GetXDPI() const noexcept;
  uint32_t GetYDPI() const noexcept;
  // Keep the low 16 bits.
  void SetXDPI(uint32_t dpi) noexcept;
  void SetYDPI(uint32_t dpi) noexcept;

  // True if the Grayscale setting is on or the loaded data is grayscale.
  bool GetGrayscale() const noexcept;
  void SetGrayscale(bool value) noexcept { grayscale_ = value; }
  uint8_t Quality() const noexcept { return quality_; }
  void SetQuality(uint8_t value) noexcept { quality_ = value; }
  bool Progressive() const noexcept { return progressive_; }
  void SetProgressive(bool value) noexcept { progressive_ = value; }
  bool OptimizeCoding() const noexcept { return optimizeCoding_; }
  void SetOptimizeCoding(bool value) noexcept { optimizeCoding_ = value; }
  bool EightBitOutput() const noexcept { return eightBitOutput_; }
  void SetEightBitOutput(bool value) noexcept { eightBitOutput_ = value; }
  // The next decode gives eighths/8 of the frame's size (1..8, see TDecodeOptions); set it
  // before the pixels are first asked for.
  uint8_t DecodeScale() const noexcept { return decodeScale_; }
  void SetDecodeScale(uint8_t eighths) noexcept { decodeScale_ = eighths; }
  // The kind of pixels the data decodes to before any conversion.
  TColorKind ColorKind() const noexcept;
  // The next decode converts to sRGB through this (see TDecodeOptions::ToSrgb); none = as
  // decoded.
  void SetColorTransform(std::shared_ptr<const TColorTransform> transform) noexcept {
    toSrgb_ = std::move(transform);
  }

  void SetOnProgress(TProgressEvent handler) { onProgress_ = std::move(handler); }
  const TProgressEvent& OnProgress() const noexcept { return onProgress_; }
  void SetTickSource(TTickSource ticks) { ticks_ = std::move(ticks); }

  // The compressed bytes, or nullptr when there are none (new object, or assigned from a
  // raster and not yet encoded).
  TMemoryStream* Data() noexcept { return holder_->Data.get(); }
  const TMemoryStream* Data() const noexcept { return holder_->Data.get(); }
  // The decoded or assigned raster, or nullptr.
  TBMPImage* Raster() noexcept { return raster_.get(); }
  const TBMPImage* Raster() const noexcept { return raster_.get(); }

  // Raises the progress event, if one is set. Used by the codec; public so the library
  // callbacks can reach it.
  void Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow,
                const TProgressRect& rect);
  uint32_t Ticks() const;

 protected:
  // Last step of every load, after the header values and DPI are set; Data is at position 0.
  // Errors propagate out of the load.
  virtual void ReadMetadata() {}
  // Runs in SaveToStream after EnsureEncoded, before Data is written out.
  virtual void WriteMetadata() {}
  // Runs in Assign from another JPEG object when that object has a raster.
  virtual void AssignMetadata(const TJPEGImage& source) { (void)source; }

  TJPEGExtraData& Holder() noexcept { return *holder_; }
  const TJPEGExtraData& Holder() const noexcept { return *holder_; }

 private:
  void Load(std::unique_ptr<TMemoryStream> data);
  void ParseHeader();
  void DecodeInto(TBMPImage& raster);
  void EncodeRaster(TMemoryStream& output);
  void ConvertRasterToGray();
  void ReportEnd(bool failed) noexcept;

  std::shared_ptr<TJPEGExtraData> holder_;
  std::unique_ptr<TBMPImage> raster_;
  uint8_t quality_;
  bool grayscale_;
  bool eightBitOutput_;
  bool progressive_;
  bool optimizeCoding_ = false;
  uint8_t decodeScale_ = 8;
  std::shared_ptr<const TColorTransform> toSrgb_;
  TLoadLimits limits_;
  TProgressEvent onProgress_;
  TTickSource ticks_;
};

}  // namespace quorvex

// Conversion of decoded pixels from the colour space of an embedded ICC profile to sRGB.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "imaging/raster_image.h"

namespace quorvex {

// The pixels a decode gives before conversion: gray levels, blue-green-red, or the four inverted
// ink values (255 = no ink) that CMYK and YCCK files deliver.
enum class TColorKind : uint8_t { Gray, Rgb, Cmyk };

class TColorTransform {
 public:
  // The conversion of kind's pixels through profile to sRGB, with the perceptual intent where
  // the profile has it and relative colorimetric with black-point compensation otherwise;
  // nullptr when the profile is unreadable, of another colour space or cannot be converted
  // from (the pixels then stay as they are), and on builds without colour management.
  static std::shared_ptr<const TColorTransform> ToSrgb(std::span<const uint8_t> profile,
                                                       TColorKind kind);
  // CMYK and YCCK files without a profile: through the default CMYK profile installed with the
  // component; nullptr when it is missing. Built once per process.
  static std::shared_ptr<const TColorTransform> DefaultCmykToSrgb();

  ~TColorTransform();
  TColorTransform(const TColorTransform&) = delete;
  TColorTransform& operator=(const TColorTransform&) = delete;

  TColorKind Kind() const noexcept { return kind_; }
  // Converts pixels of Kind() at in into blue-green-red at out; in == out is allowed for Rgb.
  void Convert(const uint8_t* in, uint8_t* out, int32_t pixels) const noexcept;
  // A decoded raster in place: its 24-bit pixels, or the entries of its palette (a gray
  // palette for Gray, as gray files decode).
  void Apply(TBitmap& raster) const;

 private:
  // RGB through a matrix and curves at both ends, evaluated by tables of its own.
  struct TShaper;

  TColorTransform(void* handle, TColorKind kind) noexcept;
  void* handle_;
  TColorKind kind_;
  std::unique_ptr<const TShaper> shaper_;
};

// Whether this build converts colours at all.
bool ColorManagementAvailable() noexcept;

// The profile's description in UTF-8 (at most 255 characters, trailing spaces dropped), or ""
// when the profile is empty, unreadable or not of kind's colour space.
std::string IccDescription(std::span<const uint8_t> profile, TColorKind kind);

}  // namespace quorvex

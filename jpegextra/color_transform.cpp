#include "jpegextra/color_transform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "jpegextra/lcms_handles.h"
#include "jpegextra/lcms_memory.h"

#ifndef QUORVEX_DEFAULT_CMYK_PROFILE
#define QUORVEX_DEFAULT_CMYK_PROFILE ""
#endif

namespace quorvex {

namespace {

// Descriptions are for people: longer ones are cut.
constexpr size_t kMaxDescription = 255;

// Steps of linear light between 0 and 1 in the table of the sRGB encoding: fine enough that the
// darkest levels, where the curve is steepest, round as the exact curve does.
constexpr int kEncodeSteps = 16383;
// Fraction bits of the matrix coefficients: three products of a coefficient below 8 and a
// 14-bit value stay within 32 bits.
constexpr int kMatrixBits = 12;

cmsColorSpaceSignature SpaceOf(TColorKind kind) noexcept {
  switch (kind) {
    case TColorKind::Gray:
      return cmsSigGrayData;
    case TColorKind::Rgb:
      return cmsSigRgbData;
    case TColorKind::Cmyk:
      break;
  }
  return cmsSigCmykData;
}

cmsUInt32Number InputFormat(TColorKind kind) noexcept {
  switch (kind) {
    case TColorKind::Gray:
      return TYPE_GRAY_8;
    case TColorKind::Rgb:
      return TYPE_BGR_8;
    case TColorKind::Cmyk:
      break;
  }
  // Adobe's files store the inks inverted, 255 for none.
  return TYPE_CMYK_8_REV;
}

int BytesPerPixel(TColorKind kind) noexcept {
  return kind == TColorKind::Gray ? 1 : kind == TColorKind::Rgb ? 3 : 4;
}

// The profile when the library reads it and it describes kind's colour space.
lcms::Profile OpenProfile(std::span<const uint8_t> bytes, TColorKind kind) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) return nullptr;
  lcms::Profile profile(cmsOpenProfileFromMemTHR(lcms::Context(), bytes.data(),
                                                 static_cast<cmsUInt32Number>(bytes.size())));
  if (profile && cmsGetColorSpace(profile.get()) != SpaceOf(kind)) profile.reset();
  return profile;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x20 || c == 0x7F) c = ' ';
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// wchar_t text of either width (UTF-16 on Windows) as UTF-8; broken surrogates are dropped.
std::string WideToUtf8(const wchar_t* text, size_t length) {
  std::string out;
  size_t count = 0;
  for (size_t i = 0; i < length && count < kMaxDescription; ++i, ++count) {
    auto c = static_cast<char32_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
      const auto low = static_cast<char32_t>(text[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) continue;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      continue;
    }
    AppendUtf8(out, c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The columns are the red, green and blue colorants (XYZ, adapted to D50); nothing when the
// profile lacks one.
std::optional<Matrix3> Colorants(cmsHPROFILE profile) {
  const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                   cmsSigBlueColorantTag};
  Matrix3 m{};
  for (int c = 0; c < 3; ++c) {
    const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
    if (xyz == nullptr) return std::nullopt;
    m[0][c] = xyz->X;
    m[1][c] = xyz->Y;
    m[2][c] = xyz->Z;
  }
  return m;
}

std::optional<Matrix3> Inverse(const Matrix3& m) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (!std::isfinite(det) || std::fabs(det) < 1e-9) return std::nullopt;
  Matrix3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      r[i][j] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / det;
    }
  return r;
}

double SrgbEncoded(double linear) noexcept {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

}  // namespace

// The library's general 8-bit path costs more than the decode itself. A matrix profile's
// conversion is separable: a curve per channel to linear light, one matrix to linear sRGB, the
// sRGB curve back; tables make it a few operations per pixel.
struct TColorTransform::TShaper {
  // Fixed point with kEncodeBits fraction bits throughout: integers keep the loop short.
  std::array<std::array<int32_t, 256>, 3> Linear;  // blue, green, red
  std::array<std::array<int32_t, 3>, 3> Matrix;    // rows red, green, blue of linear sRGB
  std::array<uint8_t, kEncodeSteps + 1> Encode;

  static std::unique_ptr<const TShaper> For(cmsHPROFILE source, cmsHPROFILE srgb) {
    if (!cmsIsMatrixShaper(source) || cmsGetColorSpace(source) != cmsSigRgbData) return nullptr;
    const std::optional<Matrix3> from = Colorants(source), to = Colorants(srgb);
    if (!from || !to) return nullptr;
    const std::optional<Matrix3> back = Inverse(*to);
    if (!back) return nullptr;
    auto shaper = std::make_unique<TShaper>();
    const cmsTagSignature curves[3] = {cmsSigBlueTRCTag, cmsSigGreenTRCTag, cmsSigRedTRCTag};
    for (int c = 0; c < 3; ++c) {
      const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, curves[c]));
      if (curve == nullptr) return nullptr;
      for (int i = 0; i < 256; ++i) {
        const float value = cmsEvalToneCurveFloat(curve, static_cast<float>(i) / 255);
        if (!std::isfinite(value)) return nullptr;
        shaper->Linear[c][i] =
            static_cast<int32_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * kEncodeSteps));
      }
    }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) sum += (*back)[i][k] * (*from)[k][j];
        // Wide spaces need coefficients of a few units at most; beyond, no sane profile.
        if (!(std::fabs(sum) < 8)) return nullptr;
        shaper->Matrix[i][j] = static_cast<int32_t>(std::lround(sum * (1 << kMatrixBits)));
      }
    for (int i = 0; i <= kEncodeSteps; ++i)
      shaper->Encode[i] = static_cast<uint8_t>(
          std::lround(255 * SrgbEncoded(static_cast<double>(i) / kEncodeSteps)));
    return shaper;
  }

  void Convert(const uint8_t* in, uint8_t* out, int32_t pixels) const noexcept {
    const auto& m = Matrix;
    const auto encode = [this](int32_t v) {
      return Encode[std::clamp((v + (1 << (kMatrixBits - 1))) >> kMatrixBits, 0, kEncodeSteps)];
    };
    for (int32_t i = 0; i < pixels; ++i, in += 3, out += 3) {
      const int32_t b = Linear[0][in[0]], g = Linear[1][in[1]], r = Linear[2][in[2]];
      const uint8_t red = encode(m[0][0] * r + m[0][1] * g + m[0][2] * b);
      const uint8_t green = encode(m[1][0] * r + m[1][1] * g + m[1][2] * b);
      const uint8_t blue = encode(m[2][0] * r + m[2][1] * g + m[2][2] * b);
      out[0] = blue;
      out[1] = green;
      out[2] = red;
    }
  }
};

TColorTransform::TColorTransform(void* handle, TColorKind kind) noexcept
    : handle_(handle), kind_(kind) {}

bool ColorManagementAvailable() noexcept {
  return true;
}

std::shared_ptr<const TColorTransform> TColorTransform::ToSrgb(std::span<const uint8_t> bytes,
                                                               TColorKind kind) {
  const lcms::TMemoryBound bound(bytes.size());
  const lcms::Profile source = OpenProfile(bytes, kind);
  if (!source) return nullptr;
  const lcms::Profile srgb(cmsCreate_sRGBProfileTHR(lcms::Context()));
  if (!srgb) return nullptr;
  // A matrix profile renders every intent alike; a table profile may lack the perceptual one.
  const bool perceptual = cmsIsMatrixShaper(source.get()) ||
                          cmsIsCLUT(source.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT);
  const cmsUInt32Number intent = perceptual ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC;
  const cmsUInt32Number flags = perceptual ? 0 : cmsFLAGS_BLACKPOINTCOMPENSATION;
  cmsHTRANSFORM handle = cmsCreateTransformTHR(lcms::Context(), source.get(), InputFormat(kind),
                                               srgb.get(), TYPE_BGR_8, intent, flags);
  if (handle == nullptr) return nullptr;
  lcms::Transform owned(handle);
  std::shared_ptr<TColorTransform> transform(new TColorTransform(handle, kind));
  owned.release();
  // The matrix is the whole conversion only where no intent needs more than colorimetry.
  if (kind == TColorKind::Rgb && perceptual)
    transform->shaper_ = TShaper::For(source.get(), srgb.get());
  return transform;
}

std::shared_ptr<const TColorTransform> TColorTransform::DefaultCmykToSrgb() {
  static const std::shared_ptr<const TColorTransform> transform =
      ToSrgb(ReadFile(QUORVEX_DEFAULT_CMYK_PROFILE), TColorKind::Cmyk);
  return transform;
}

TColorTransform::~TColorTransform() {
  cmsDeleteTransform(handle_);
}

void TColorTransform::Convert(const uint8_t* in, uint8_t* out, int32_t pixels) const noexcept {
  if (pixels <= 0) return;
  if (shaper_)
    shaper_->Convert(in, out, pixels);
  else
    cmsDoTransform(handle_, in, out, static_cast<cmsUInt32Number>(pixels));
}

void TColorTransform::Apply(TBitmap& raster) const {
  if (kind_ == TColorKind::Cmyk || raster.Empty()) return;
  if (raster.PixelFormat() == TPixelFormat::pf24bit) {
    if (kind_ != TColorKind::Rgb) return;
    for (int32_t y = 0; y < raster.Height(); ++y) {
      uint8_t* row = raster.Row(y);
      Convert(row, row, raster.Width());
    }
    return;
  }
  std::vector<TPaletteEntry> palette(raster.Palette().begin(), raster.Palette().end());
  const int bytes = BytesPerPixel(kind_);
  std::vector<uint8_t> in(palette.size() * bytes), out(palette.size() * 3);
  for (size_t i = 0; i < palette.size(); ++i) {
    if (kind_ == TColorKind::Gray) {
      in[i] = palette[i].Blue;
    } else {
      in[3 * i] = palette[i].Blue;
      in[3 * i + 1] = palette[i].Green;
      in[3 * i + 2] = palette[i].Red;
    }
  }
  Convert(in.data(), out.data(), static_cast<int32_t>(palette.size()));
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i].Blue = out[3 * i];
    palette[i].Green = out[3 * i + 1];
    palette[i].Red = out[3 * i + 2];
  }
  raster.SetPalette(palette);
}

std::string IccDescription(std::span<const uint8_t> bytes, TColorKind kind) {
  const lcms::TMemoryBound bound(bytes.size());
  const lcms::Profile profile = OpenProfile(bytes, kind);
  if (!profile) return {};
  wchar_t text[kMaxDescription + 1] = {};
  const cmsUInt32Number size =
      cmsGetProfileInfo(profile.get(), cmsInfoDescription, "en", "US", text, sizeof(text));
  if (size == 0) return {};
  size_t length = 0;
  while (length < kMaxDescription && text[length] != 0) ++length;
  return WideToUtf8(text, length);
}

}  // namespace quorvex

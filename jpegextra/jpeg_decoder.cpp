#include "jpegextra/jpeg_decoder.h"

#include <vector>

#include "imaging/host_control.h"
#include "jpegextra/cmyk_convert.h"
#include "jpegextra/decode_budget.h"
#include "jpegextra/jpeg_errors.h"
#include "jpegextra/jpeg_message_codes.h"
#include "jpegextra/libjpeg_binding.h"
#include "jpegextra/resolution.h"

// clang-format off
#include <jerror.h>
// clang-format on

namespace quorvex {

namespace {

constexpr int kQuantizedColors = 236;

// Sets the library's output for the plan: colour comes out directly in blue-green-red order
// (RGB-coded files included).
void Configure(jpeg_decompress_struct& info, const TOutputPlan& plan, uint8_t scaleEighths) {
  const bool scaled = scaleEighths >= 1 && scaleEighths < 8;
  info.scale_num = scaled ? scaleEighths : 1;
  info.scale_denom = scaled ? 8 : 1;
  info.do_block_smoothing = TRUE;
  info.dct_method = JDCT_FLOAT;
  if (plan.Cmyk) {
    info.out_color_space = JCS_CMYK;
  } else if (plan.Gray) {
    info.out_color_space = JCS_GRAYSCALE;
  } else {
    info.out_color_space = JCS_EXT_BGR;
  }
  if (plan.Quantize) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = kQuantizedColors;
  }
}

void SetPaletteFromColorMap(const jpeg_decompress_struct& info, TBitmap& raster) {
  std::vector<TPaletteEntry> palette(static_cast<size_t>(info.actual_number_of_colors));
  for (size_t i = 0; i < palette.size(); ++i) {
    TPaletteEntry& entry = palette[i];
    if (info.out_color_components == 1) {
      entry.Blue = entry.Green = entry.Red = info.colormap[0][i];
    } else {
      // The map is in the output's blue, green, red order.
      entry.Blue = info.colormap[0][i];
      entry.Green = info.colormap[1][i];
      entry.Red = info.colormap[2][i];
    }
  }
  raster.SetPalette(palette);
}

}  // namespace

void DecodeJPEG(TMemoryStream& data, const TDecodeOptions& options, const TLoadLimits& limits,
                TBMPImage& raster, TJPEGImage* progressOwner) {
  jpeglib::Decompressor decompressor(data, progressOwner);
  jpeg_decompress_struct& info = decompressor.Info();
  decompressor.Run([&] { jpeg_read_header(&info, TRUE); });

  const TOutputPlan plan = PlanOutput(info, options);
  decompressor.LimitMemory(CheckDecodeBudget(info, plan, limits));
  // The host that runs the call holds the decode's peak for it before anything is allocated.
  ReserveMemory(RasterBytes(info, plan) + LibraryBytes(info, plan));
  decompressor.LimitScans(limits.MaxScans, uint64_t{limits.MaxScanPasses} * FrameBlocks(info));
  Configure(info, plan, options.ScaleEighths);
  decompressor.Run([&] { jpeg_start_decompress(&info); });
  NoteDecoded(uint64_t{info.output_width} * info.output_height);
  const int bytesPerPixel = plan.Quantize ? 1 : plan.Cmyk ? 4 : 3;
  if (info.output_components != bytesPerPixel)
    throw EJPEG(Release6aMessageCode(JERR_CONVERSION_NOTIMPL));

  raster.SetPixelFormat(plan.Quantize ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
  const auto width = static_cast<int32_t>(info.output_width);
  raster.SetSize(width, static_cast<int32_t>(info.output_height));
  if (plan.Quantize) SetPaletteFromColorMap(info, raster);
  const TColorTransform* toSrgb = options.ToSrgb;
  const TColorKind kind = plan.Cmyk   ? TColorKind::Cmyk
                          : plan.Gray ? TColorKind::Gray
                                      : TColorKind::Rgb;
  if (toSrgb != nullptr && toSrgb->Kind() != kind) toSrgb = nullptr;
  if (toSrgb != nullptr && plan.Quantize) {
    toSrgb->Apply(raster);
    toSrgb = nullptr;
  }

  // Rows one per call, top row first: the raster's rows lie bottom-up in memory, so they are
  // never handed over in blocks. A call that delivers nothing ends the loop; the rows left
  // stay black rather than spinning forever.
  if (plan.Cmyk) {
    std::vector<JSAMPLE> buffer(static_cast<size_t>(width) * 4);
    decompressor.Run([&] {
      while (info.output_scanline < info.output_height) {
        const auto y = static_cast<int32_t>(info.output_scanline);
        JSAMPROW row = buffer.data();
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        if (toSrgb != nullptr)
          toSrgb->Convert(buffer.data(), raster.Row(y), width);
        else
          InvertedCmykRowToBgr(buffer.data(), raster.Row(y), width);
      }
    });
  } else {
    decompressor.Run([&] {
      while (info.output_scanline < info.output_height) {
        JSAMPROW row = raster.Row(static_cast<int32_t>(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        // Converted while the row is still in the cache.
        if (toSrgb != nullptr) toSrgb->Convert(row, row, width);
      }
    });
  }

  const uint8_t unit = info.saw_JFIF_marker ? info.density_unit : kDensityNone;
  raster.SetXPelsPerMeter(DensityToPelsPerMeter(unit, info.X_density));
  raster.SetYPelsPerMeter(DensityToPelsPerMeter(unit, info.Y_density));

  // The pixels are all there; complaints about what follows them do not matter.
  decompressor.RunIgnoringErrors([&] { jpeg_finish_decompress(&info); });
}

}  // namespace quorvex

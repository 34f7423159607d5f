#include "jpegextra/decode_budget.h"

#include <algorithm>

#include "imaging/errors.h"
#include "imaging/raster_image.h"

namespace quorvex {

namespace {

// Row buffers (main, upsampling, colour conversion, rows of context) and tables: generously
// many rows of the widest component, plus the fixed tables.
constexpr uint64_t kRowBufferRows = 64;
constexpr uint64_t kFixedLibraryBytes = uint64_t{1} << 20;

uint64_t RoundUp(uint64_t value, uint64_t multiple) noexcept {
  return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

TOutputPlan PlanOutput(const jpeg_decompress_struct& info, const TDecodeOptions& options) noexcept {
  TOutputPlan plan;
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    plan.Cmyk = true;
  } else if (options.Grayscale || info.jpeg_color_space == JCS_GRAYSCALE) {
    plan.Gray = true;
    plan.Quantize = true;
  } else {
    plan.Quantize = options.EightBitOutput;
  }
  return plan;
}

uint64_t RasterBytes(const jpeg_decompress_struct& info, const TOutputPlan& plan) noexcept {
  const TPixelFormat format = plan.Quantize ? TPixelFormat::pf8bit : TPixelFormat::pf24bit;
  const auto width = static_cast<int32_t>(info.image_width);  // at most 65500 after the header
  return uint64_t{TBitmap::StrideFor(width, format)} * info.image_height;
}

uint64_t LibraryBytes(const jpeg_decompress_struct& info, const TOutputPlan& plan) noexcept {
  uint64_t bytes = kFixedLibraryBytes +
                   kRowBufferRows * info.image_width * static_cast<uint64_t>(info.num_components);
  // The library's own test for whole-frame coefficient buffers, made on the first scan.
  if (info.progressive_mode || info.comps_in_scan < info.num_components) {
    for (int i = 0; i < info.num_components; ++i) {
      const jpeg_component_info& component = info.comp_info[i];
      bytes += RoundUp(component.width_in_blocks, component.h_samp_factor) *
               RoundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
    }
  }
  if (plan.Quantize && !plan.Gray)
    bytes += uint64_t{info.image_width} * 3 * RoundUp(info.image_height, info.max_v_samp_factor);
  if (plan.Cmyk) bytes += uint64_t{info.image_width} * 4;
  return bytes;
}

uint64_t CheckDecodeBudget(const jpeg_decompress_struct& info, const TOutputPlan& plan,
                           const TLoadLimits& limits) {
  const int64_t maxPixels = std::min(limits.MaxPixels, kMaxRasterPixels);
  if (static_cast<int64_t>(info.image_width) * info.image_height > maxPixels) throw EOutOfMemory();
  const uint64_t raster = RasterBytes(info, plan);
  const uint64_t library = LibraryBytes(info, plan);
  if (raster > limits.MaxMemoryBytes || library > limits.MaxMemoryBytes - raster)
    throw EOutOfMemory();
  return limits.MaxMemoryBytes - raster;
}

uint64_t FrameBlocks(const jpeg_decompress_struct& info) noexcept {
  const uint64_t mcuColumns = (uint64_t{info.image_width} + info.max_h_samp_factor * DCTSIZE - 1) /
                              (info.max_h_samp_factor * DCTSIZE);
  uint64_t blocksPerMcu = 0;
  for (int i = 0; i < info.num_components; ++i)
    blocksPerMcu += uint64_t(info.comp_info[i].h_samp_factor) * info.comp_info[i].v_samp_factor;
  return mcuColumns * info.total_iMCU_rows * blocksPerMcu;
}

}  // namespace quorvex

#include "imaging/raster_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "imaging/block_pool.h"
#include "imaging/errors.h"
#include "imaging/memory_pages.h"

namespace quorvex {

namespace {

constexpr size_t kMappedRasterMaximum = size_t{32} << 20;

// Frees a block, or gives a large one back to the pool; capacity is the block's real size.
struct Release {
  size_t capacity;
  void operator()(uint8_t* p) const noexcept {
    if (capacity < kPooledBlockMinimum || !PoolBlock(p, capacity)) std::free(p);
  }
};

}  // namespace

// One zero-filled allocation holding all rows. calloc lets the system hand out zero pages, so a
// fresh raster costs no pass over its memory but the kernel's; a large one is taken from the pool
// of blocks earlier rasters gave back when one fits, and goes back to it.
struct TBitmap::PixelBlock {
  std::unique_ptr<uint8_t, Release> bytes{nullptr, Release{0}};
  size_t size = 0;

  static std::shared_ptr<PixelBlock> Allocate(size_t size) {
    auto block = std::make_shared<PixelBlock>();
    if (size >= kPooledBlockMinimum) {
      size_t capacity = 0;
      if (uint8_t* pooled = TakePooledBlock(size, capacity))
        block->bytes = std::unique_ptr<uint8_t, Release>(pooled, Release{capacity});
    }
    if (size != 0 && !block->bytes) {
      block->bytes = std::unique_ptr<uint8_t, Release>(static_cast<uint8_t*>(std::calloc(size, 1)),
                                                       Release{size});
      if (!block->bytes) throw EOutOfMemory();
      // Up to a decoded thumbnail's size, mapping every page at once costs less than the faults
      // of its rows. A larger raster only gets huge pages: mapped at once, the whole of it would
      // be paid for by a file whose decode fails before its rows are written.
      if (size <= kMappedRasterMaximum)
        MapLargeBlock(block->bytes.get(), size);
      else
        PreferHugePages(block->bytes.get(), size);
    }
    block->size = size;
    return block;
  }
};

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

size_t TBitmap::StrideFor(int32_t width, TPixelFormat format) noexcept {
  const size_t bits = static_cast<size_t>(width) * 8 * BytesPerPixel(format);
  return (bits + 31) / 32 * 4;
}

void TBitmap::Reallocate(int32_t width, int32_t height) {
  if (width < 0 || height < 0) throw EInvalidGraphicOperation("Invalid image size");
  if (static_cast<int64_t>(width) * height > kMaxRasterPixels) throw EOutOfMemory();
  const size_t stride = StrideFor(width, format_);
  std::shared_ptr<PixelBlock> block;
  try {
    block = PixelBlock::Allocate(stride * static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  pixels_ = std::move(block);
  width_ = width;
  height_ = height;
  stride_ = stride;
}

void TBitmap::SetWidth(int32_t width) {
  if (width != width_) Reallocate(width, height_);
}

void TBitmap::SetHeight(int32_t height) {
  if (height != height_) Reallocate(width_, height);
}

void TBitmap::SetSize(int32_t width, int32_t height) {
  if (width != width_ || height != height_) Reallocate(width, height);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  if (Empty()) {
    format_ = format;
    stride_ = StrideFor(width_, format_);
    pixels_ = PixelBlock::Allocate(stride_ * static_cast<size_t>(height_));
    return;
  }
  if (format_ != TPixelFormat::pf8bit || format != TPixelFormat::pf24bit)
    throw EInvalidGraphicOperation("Unsupported pixel format conversion");
  TBitmap converted;
  converted.format_ = TPixelFormat::pf24bit;
  converted.Reallocate(width_, height_);
  for (int32_t y = 0; y < height_; ++y) {
    const uint8_t* from = ScanLine(y);
    uint8_t* to = converted.Row(y);
    for (int32_t x = 0; x < width_; ++x) {
      const TPaletteEntry& entry = palette_[from[x]];
      to[3 * x] = entry.Blue;
      to[3 * x + 1] = entry.Green;
      to[3 * x + 2] = entry.Red;
    }
  }
  converted.palette_ = palette_;
  converted.paletteSize_ = paletteSize_;
  Swap(converted);
}

void TBitmap::CopyFrom(const TBitmap& source) {
  if (&source == this) return;
  width_ = source.width_;
  height_ = source.height_;
  format_ = source.format_;
  stride_ = source.stride_;
  pixels_ = source.pixels_;
  palette_ = source.palette_;
  paletteSize_ = source.paletteSize_;
}

void TBitmap::Swap(TBitmap& other) noexcept {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(stride_, other.stride_);
  std::swap(pixels_, other.pixels_);
  std::swap(palette_, other.palette_);
  std::swap(paletteSize_, other.paletteSize_);
}

const uint8_t* TBitmap::RowAddress(int32_t y) const {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  // Bottom-up storage: the top row is the last one in memory.
  return pixels_->bytes.get() + static_cast<size_t>(height_ - 1 - y) * stride_;
}

const uint8_t* TBitmap::ScanLine(int32_t y) const {
  return RowAddress(y);
}

uint8_t* TBitmap::Row(int32_t y) {
  const uint8_t* address = RowAddress(y);
  if (pixels_.use_count() > 1) {
    auto own = PixelBlock::Allocate(pixels_->size);
    std::memcpy(own->bytes.get(), pixels_->bytes.get(), pixels_->size);
    pixels_ = std::move(own);
    address = RowAddress(y);
  }
  return const_cast<uint8_t*>(address);
}

void TBitmap::SetPalette(std::span<const TPaletteEntry> entries) {
  const size_t count = std::min<size_t>(entries.size(), kMaxPaletteEntries);
  palette_ = {};
  std::copy_n(entries.begin(), count, palette_.begin());
  paletteSize_ = static_cast<int>(count);
}

}  // namespace quorvex

// The Resize object's transforms: size arithmetic and argument rules on top of the imaging layer.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "comserver/ole_errors.h"
#include "component/resize_object.h"
#include "imaging/errors.h"
#include "imaging/fit_in_box.h"
#include "imaging/flip.h"
#include "imaging/resize.h"
#include "imaging/rotate.h"
#include "imaging/sharpen.h"

namespace quorvex {

namespace {

// Sizes are computed exactly in 64 bits. A side that does not fit a 32-bit size is far beyond
// any raster the system makes, and is refused the same way.
int32_t CheckedSide(int64_t side) {
  if (side > std::numeric_limits<int32_t>::max() || side < std::numeric_limits<int32_t>::min())
    throw EOutOfMemory();
  return static_cast<int32_t>(side);
}

// A result over the object's pixel bound is refused like an allocation that failed, before any
// memory is taken, and so leaves the object as it was. Sides are at most 2^31 here, so the
// product cannot overflow.
void RequireWithin(int64_t width, int64_t height, int64_t maxPixels) {
  if (width * height > maxPixels) throw EOutOfMemory();
}

void PaintBackground(TBitmap& bitmap, OLE_COLOR color) {
  const uint8_t pixel[3] = {static_cast<uint8_t>(color >> 16), static_cast<uint8_t>(color >> 8),
                            static_cast<uint8_t>(color)};
  // A crop 0 pixels wide may still be 2^31 rows high: nothing to paint, so no walk over them.
  for (int32_t y = 0; y < bitmap.Height() && bitmap.Width() > 0; ++y) {
    uint8_t* row = bitmap.Row(y);
    for (int32_t x = 0; x < bitmap.Width(); ++x) std::memcpy(row + 3 * x, pixel, 3);
  }
}

// Copies the source pixels of columns [left, right) and rows [top, bottom) that lie inside the
// source to the destination, whose (0, 0) is the rectangle's corner.
void CopyRectangle(const TBitmap& source, TBitmap& dest, int64_t left, int64_t top, int64_t right,
                   int64_t bottom) {
  const int64_t x0 = std::max<int64_t>(left, 0), x1 = std::min<int64_t>(right, source.Width());
  const int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min<int64_t>(bottom, source.Height());
  if (x0 >= x1 || y0 >= y1) return;
  const bool indexed = source.PixelFormat() == TPixelFormat::pf8bit;
  const auto palette = source.Palette();
  for (int64_t y = y0; y < y1; ++y) {
    const uint8_t* from = source.ScanLine(static_cast<int32_t>(y));
    uint8_t* to = dest.Row(static_cast<int32_t>(y - top)) + 3 * (x0 - left);
    if (!indexed) {
      std::memcpy(to, from + 3 * x0, static_cast<size_t>(3 * (x1 - x0)));
      continue;
    }
    for (int64_t x = x0; x < x1; ++x, to += 3) {
      const uint8_t index = from[x];
      const TPaletteEntry entry = index < palette.size() ? palette[index] : TPaletteEntry{};
      to[0] = entry.Blue;
      to[1] = entry.Green;
      to[2] = entry.Red;
    }
  }
}

}  // namespace

std::unique_ptr<TBitmap> TResize::Resized(int64_t width, int64_t height,
                                          const TThumbnailLoad* extents) const {
  const int32_t w = CheckedSide(width), h = CheckedSide(height);
  RequireWithin(w, h, LoadLimits().MaxPixels);
  std::unique_ptr<TBitmap> result = std::make_unique<TBitmap>();
  if (extents != nullptr) {
    result->SetPixelFormat(image_.PixelFormat());
    result->SetSize(w, h);
    ShrinkHalftoneOver(*result, image_, extents->ExtentX, extents->ExtentY);
  } else {
    ResizeBitmap(w, h, result, image_);
  }
  if (w > 0 && h > 0)
    SharpenAfterShrink(*result, sharpen_,
                       std::max(static_cast<double>(image_.Width()) / w,
                                static_cast<double>(image_.Height()) / h));
  return result;
}

void TResize::ResizeTo(int64_t width, int64_t height) {
  ReplaceImage(*Resized(width, height));
}

void TResize::ResizeImage(LONG Width, LONG Height) {
  int64_t width = std::max<LONG>(Width, 0), height = std::max<LONG>(Height, 0);
  if (width == 0 && height == 0) return;
  const int64_t imageWidth = image_.Width(), imageHeight = image_.Height();
  if (imageHeight == 0) return;
  if (width == 0) {
    width = height * imageWidth / imageHeight;
  } else if (height == 0) {
    if (imageWidth == 0) throw EDivByZero();
    height = width * imageHeight / imageWidth;
  }
  ResizeTo(width, height);
}

void TResize::ScaleImage(LONG Factor) {
  if (Factor <= 0) return;
  ResizeTo(int64_t{Factor} * image_.Width() / 100, int64_t{Factor} * image_.Height() / 100);
}

void TResize::ResizeBox(LONG Width, LONG Height) {
  // The resize is a nested call to ResizeImage as far as the script can tell: a failure keeps
  // its result code, and its message loses the trailing full stop.
  try {
    if (const auto size = FitInBox(image_.Width(), image_.Height(), Width, Height))
      ResizeTo(size->Width, size->Height);
  } catch (...) {
    RaiseAsNestedCallFailure();
  }
}

void TResize::RotateImage(FLOAT Angle) {
  const TRotatedSize size = RotatedSize(image_.Width(), image_.Height(), RotationFor(Angle));
  RequireWithin(size.width, size.height, LoadLimits().MaxPixels);
  std::unique_ptr<TBitmap> result = std::make_unique<TBitmap>();
  RotateBitmap(image_, result, backgroundColor_, Angle);
  ReplaceImage(*result);
}

void TResize::CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) {
  const int64_t left = std::min(X1, X2), right = std::max(X1, X2);
  const int64_t top = std::min(Y1, Y2), bottom = std::max(Y1, Y2);
  const int32_t width = CheckedSide(right - left), height = CheckedSide(bottom - top);
  RequireWithin(width, height, LoadLimits().MaxPixels);
  TBitmap result;
  result.SetPixelFormat(TPixelFormat::pf24bit);
  result.SetSize(width, height);
  PaintBackground(result, backgroundColor_);
  CopyRectangle(image_, result, left, top, right, bottom);
  ReplaceImage(result);
}

void TResize::FlipHorizontal() {
  TBitmap result;
  result.CopyFrom(image_);
  ReverseRowOrder(result);
  ReplaceImage(result);
}

void TResize::FlipVertical() {
  TBitmap result;
  result.CopyFrom(image_);
  ReverseColumnOrder(result);
  ReplaceImage(result);
}

}  // namespace quorvex

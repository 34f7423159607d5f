#include "imaging/fill_box.h"

#include <algorithm>
#include <cstring>

#include "imaging/saliency.h"

namespace quorvex {

namespace {

// The largest size of the box's aspect that a picture holds, sides truncated, at least 1.
TSize LargestOfAspect(TSize picture, TSize box) noexcept {
  const int64_t w = picture.Width, h = picture.Height, bw = box.Width, bh = box.Height;
  int64_t cutWidth = w, cutHeight = h;
  if (w * bh >= h * bw)
    cutWidth = h * bw / bh;
  else
    cutHeight = w * bh / bw;
  return {static_cast<int32_t>(std::clamp<int64_t>(cutWidth, 1, w)),
          static_cast<int32_t>(std::clamp<int64_t>(cutHeight, 1, h))};
}

}  // namespace

TFillPlan PlanFill(TSize picture, TSize box) noexcept {
  const int64_t w = picture.Width, h = picture.Height, bw = box.Width, bh = box.Height;
  if (bw > w || bh > h) return {picture, LargestOfAspect(picture, box), false};
  // The side whose box-to-picture ratio is larger governs; the other follows the picture's
  // aspect, truncated, which keeps it at least the box's.
  TSize scaled = box;
  if (bw * h >= bh * w)
    scaled.Height = static_cast<int32_t>(h * bw / w);
  else
    scaled.Width = static_cast<int32_t>(w * bh / h);
  return {scaled, box, scaled != picture};
}

TOffset CutOrigin(const TBitmap& picture, TSize cut, TGravity gravity) {
  const int32_t roomX = picture.Width() - cut.Width, roomY = picture.Height() - cut.Height;
  switch (gravity) {
    case TGravity::Center:
      return {roomX / 2, roomY / 2};
    case TGravity::North:
      return {roomX / 2, 0};
    case TGravity::South:
      return {roomX / 2, roomY};
    case TGravity::East:
      return {roomX, roomY / 2};
    case TGravity::West:
      return {0, roomY / 2};
    case TGravity::NorthEast:
      return {roomX, 0};
    case TGravity::NorthWest:
      return {0, 0};
    case TGravity::SouthEast:
      return {roomX, roomY};
    case TGravity::SouthWest:
      return {0, roomY};
    case TGravity::Attention:
    case TGravity::Entropy:
      break;
  }
  const TSaliency kind = gravity == TGravity::Attention ? TSaliency::Attention : TSaliency::Entropy;
  // A cut narrower than the picture slides along x, otherwise along y; the other axis is
  // centred, which for a fill is the whole side.
  const int32_t offset = BestWindowOffset(picture, cut.Width, cut.Height, kind);
  return roomX > 0 ? TOffset{offset, roomY / 2} : TOffset{roomX / 2, offset};
}

void CutWindow(const TBitmap& source, TOffset origin, TSize size, TBitmap& result) {
  const int bytes = TBitmap::BytesPerPixel(source.PixelFormat());
  TBitmap cut;
  cut.SetPixelFormat(source.PixelFormat());
  cut.SetPalette(source.Palette());
  cut.SetSize(size.Width, size.Height);
  for (int32_t y = 0; y < size.Height; ++y)
    std::memcpy(cut.Row(y), source.ScanLine(origin.Y + y) + static_cast<size_t>(origin.X) * bytes,
                static_cast<size_t>(size.Width) * bytes);
  result.Swap(cut);
}

}  // namespace quorvex

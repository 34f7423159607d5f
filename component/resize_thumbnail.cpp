// LoadThumbnail: a load already fitted into a box (or, with Fit "cover", filling it). A box well
// below the picture's size is reached from a picture decoded at a reduced DCT scale, finished
// with the area average over what its pixels stand for of the full frame; every other case is a
// plain load followed by ResizeBox or FillBox, a side that rounds to 0 made 1.
#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "component/component_errors.h"
#include "component/resize_object.h"
#include "imaging/fit_in_box.h"
#include "imaging/halftone.h"
#include "imaging/orientation.h"
#include "jpegextra/color_transform.h"
#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/kept_metadata.h"
#include "platform/com_ptr.h"

namespace quorvex {

namespace {

// How much larger than the result a picture decoded at 1/8 .. 7/8 of full size must be on both
// axes, in halves. A DCT-scaled picture holds (near) block means, and the area average of block
// means misses what lies inside the blocks cut by the result's pixel edges: the error falls
// with the margin. Measured on camera photos and sharp 4:4:4 detail, these margins keep the
// mean difference from the exact path within 1.5 levels; 1/8, a pixel per block, needs the most.
constexpr std::array<int64_t, 7> kMarginHalves = {5, 4, 4, 4, 4, 4, 4};

constexpr uint8_t kFullScale = 8;

// Side of the library's output at eighths/8 of full size.
int64_t ScaledSide(int64_t side, int64_t eighths) noexcept {
  return (side * eighths + kFullScale - 1) / kFullScale;
}

// The box's size of a width x height picture as ResizeBox gives it, a side that rounds to 0
// made 1 (a thumbnail is never empty); nothing when the picture is left as it is.
std::optional<TFitSize> ThumbnailSize(int64_t width, int64_t height, LONG boxWidth,
                                      LONG boxHeight) {
  auto size = FitInBox(width, height, boxWidth, boxHeight);
  if (size) {
    size->Width = std::max<int64_t>(size->Width, 1);
    size->Height = std::max<int64_t>(size->Height, 1);
  }
  return size;
}

// The size FillBox gives a width x height picture when the box gives one side only and the
// picture shrinks: the other side derived as ResizeImage derives it, made 1 where it rounds to 0.
// Nothing in every other case.
std::optional<TFitSize> OneSideFillSize(int64_t width, int64_t height, LONG boxWidth,
                                        LONG boxHeight) {
  const int64_t w = std::max<LONG>(boxWidth, 0), h = std::max<LONG>(boxHeight, 0);
  if ((w == 0) == (h == 0) || width <= 0 || height <= 0) return std::nullopt;
  if ((w == 0 || w >= width) && (h == 0 || h >= height)) return std::nullopt;
  if (w == 0) return TFitSize{std::max<int64_t>(h * width / height, 1), h};
  return TFitSize{w, std::max<int64_t>(w * height / width, 1)};
}

// What the columns (or rows) of a picture decoded at eighths/8 stand for: the frame's side at
// that scale, which ends inside the last one, or begins inside the first once the load has
// turned that axis around.
TSourceExtent ScaledExtent(int64_t side, int64_t eighths, bool reversed) noexcept {
  return {side * eighths, kFullScale, reversed};
}

}  // namespace

uint8_t TResize::DecodeScaleFor(const TJPEGImageExtra& jpeg, TThumbnailLoad* thumbnail) const {
  if (thumbnail == nullptr) return kFullScale;
  TThumbnailLoad& load = *thumbnail;
  // The box holds the picture as the load leaves it: upright, and so with its sides swapped,
  // when AutoOrient turns it a quarter (orientations 5..8). The load turns the scaled picture
  // before it is finished, so only the sides need swapping here.
  const bool quarterTurn = autoOrient_ && OrientationSwapsSides(RecordedOrientation(jpeg.Exif()));
  const int64_t width = quarterTurn ? jpeg.Height() : jpeg.Width();
  const int64_t height = quarterTurn ? jpeg.Width() : jpeg.Height();
  const LONG boxWidth = load.BoxWidth, boxHeight = load.BoxHeight;
  // Gray and palette pictures are stretched by pixel selection, which a scaled decode cannot
  // reproduce.
  if (jpeg.GetGrayscale() || jpeg.EightBitOutput()) return kFullScale;
  if (boxWidth <= 0 || boxHeight <= 0 || width <= 0 || height <= 0) return kFullScale;
  if (boxWidth >= width && boxHeight >= height) return kFullScale;
  int64_t targetWidth = boxWidth, targetHeight = boxHeight;
  if (cover_) {
    // FillBox's scaled picture, which its cut then trims to the box.
    const TFillPlan plan = PlanFill({static_cast<int32_t>(width), static_cast<int32_t>(height)},
                                    {boxWidth, boxHeight});
    if (!plan.Shrinks) return kFullScale;
    targetWidth = plan.Scaled.Width;
    targetHeight = plan.Scaled.Height;
  } else {
    const auto size = ThumbnailSize(width, height, boxWidth, boxHeight);
    if (!size) return kFullScale;
    targetWidth = size->Width;
    targetHeight = size->Height;
  }
  if (targetWidth <= 0 || targetHeight <= 0) return kFullScale;
  for (int64_t eighths = 1; eighths < kFullScale; ++eighths) {
    const int64_t margin = kMarginHalves[eighths - 1];
    if (2 * ScaledSide(width, eighths) >= margin * targetWidth &&
        2 * ScaledSide(height, eighths) >= margin * targetHeight) {
      load.Scaled = true;
      load.Width = static_cast<int32_t>(targetWidth);
      load.Height = static_cast<int32_t>(targetHeight);
      // Turning upright reverses the columns under orientations 2, 3, 6 and 7, the rows under
      // 3, 4, 7 and 8.
      const LONG orientation = RecordedOrientation(jpeg.Exif());
      const bool turned = autoOrient_ && orientation >= 2 && orientation <= 8;
      const int steps = turned ? (orientation - 1) % 4 : 0;
      load.ExtentX = ScaledExtent(width, eighths, steps == 1 || steps == 2);
      load.ExtentY = ScaledExtent(height, eighths, steps == 2 || steps == 3);
      return static_cast<uint8_t>(eighths);
    }
  }
  return kFullScale;
}

void TResize::LoadThumbnail(const VARIANT& Source, LONG Width, LONG Height) {
  // Everything happens on a scratch object, so a failure leaves this one as it was.
  TResize scratch;
  scratch.CopySettingsFrom(*this);
  TThumbnailLoad load;
  load.BoxWidth = Width;
  load.BoxHeight = Height;
  const VARIANT& source = Dereferenced(Source);
  if ((V_VT(&source) & VT_ARRAY) != 0) {
    scratch.LoadArray(Source, &load);
  } else {
    VARIANT name;
    VariantInit(&name);
    // The source is only read: the Windows declaration lacks the const.
    const HRESULT changed = VariantChangeType(&name, const_cast<VARIANT*>(&source), 0, VT_BSTR);
    if (changed == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(changed)) throw EVariantError();
    TBstr owned(V_BSTR(&name));
    scratch.LoadFile(owned.get(), &load);
  }
  if (load.Scaled && cover_) {
    scratch.CutAlongGravity(*scratch.Resized(load.Width, load.Height, &load), {Width, Height});
  } else if (load.Scaled) {
    scratch.ReplaceImage(*scratch.Resized(load.Width, load.Height, &load));
  } else if (const auto size =
                 cover_ ? OneSideFillSize(scratch.Width(), scratch.Height(), Width, Height)
                        : std::nullopt) {
    scratch.ResizeTo(size->Width, size->Height);
  } else if (cover_) {
    scratch.FillBox(Width, Height);
  } else if (const auto size = ThumbnailSize(scratch.Width(), scratch.Height(), Width, Height)) {
    scratch.ResizeTo(size->Width, size->Height);
  }
  if (load.ToSrgb) load.ToSrgb->Apply(scratch.MutableImage());
  AdoptLoadFrom(scratch);
}

}  // namespace quorvex

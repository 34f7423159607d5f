// LoadThumbnail: a load already fitted into a box. A box well below the picture's size is
// reached from a picture decoded at a reduced DCT scale, finished with the area average; every
// other case is a plain load followed by ResizeBox.
#include <array>
#include <utility>

#include "component/component_errors.h"
#include "component/resize_object.h"
#include "imaging/orientation.h"
#include "jpegextra/metadata/jpeg_image_extra.h"
#include "jpegextra/metadata/kept_metadata.h"
#include "platform/com_ptr.h"

namespace quorvex {

namespace {

// How much larger than the result a picture decoded at 1/8 .. 7/8 of full size must be on both
// axes, in halves. A DCT-scaled picture is a coarse block average (4:2:0 chroma coarser still)
// and the smaller the scale, the coarser: measured on sharp photo detail, these margins keep the
// area average within about a level and a half of the full decode, where a factor of two leaves
// it three to six levels off.
constexpr std::array<int64_t, 7> kMarginHalves = {16, 12, 9, 7, 6, 6, 6};

constexpr uint8_t kFullScale = 8;

// Side of the library's output at eighths/8 of full size.
int64_t ScaledSide(int64_t side, int64_t eighths) noexcept {
  return (side * eighths + kFullScale - 1) / kFullScale;
}

}  // namespace

uint8_t TResize::DecodeScaleFor(const TJPEGImageExtra& jpeg) {
  if (!thumbnail_) return kFullScale;
  TThumbnailLoad& load = *thumbnail_;
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
  // ResizeBox's arithmetic: the side whose ratio is larger fits the box, the other follows.
  const double rw = static_cast<double>(width) / boxWidth;
  const double rh = static_cast<double>(height) / boxHeight;
  int64_t targetWidth = boxWidth, targetHeight = boxHeight;
  if (rw > rh)
    targetHeight = boxWidth * height / width;
  else
    targetWidth = boxHeight * width / height;
  if (targetWidth <= 0 || targetHeight <= 0) return kFullScale;
  for (int64_t eighths = 1; eighths < kFullScale; ++eighths) {
    const int64_t margin = kMarginHalves[eighths - 1];
    if (2 * ScaledSide(width, eighths) >= margin * targetWidth &&
        2 * ScaledSide(height, eighths) >= margin * targetHeight) {
      load.Scaled = true;
      load.Width = static_cast<int32_t>(targetWidth);
      load.Height = static_cast<int32_t>(targetHeight);
      return static_cast<uint8_t>(eighths);
    }
  }
  return kFullScale;
}

void TResize::LoadThumbnail(const VARIANT& Source, LONG Width, LONG Height) {
  // Everything happens on a scratch object, so a failure leaves this one as it was.
  TResize scratch;
  scratch.CopySettingsFrom(*this);
  scratch.thumbnail_.emplace(TThumbnailLoad{Width, Height});
  const VARIANT& source = Dereferenced(Source);
  if ((V_VT(&source) & VT_ARRAY) != 0) {
    scratch.VariantIn(Source);
  } else {
    VARIANT name;
    VariantInit(&name);
    // The source is only read: the Windows declaration lacks the const.
    if (FAILED(VariantChangeType(&name, const_cast<VARIANT*>(&source), 0, VT_BSTR)))
      throw EVariantError();
    TBstr owned(V_BSTR(&name));
    scratch.LoadFromFile(owned.get());
  }
  if (scratch.thumbnail_->Scaled)
    scratch.ResizeTo(scratch.thumbnail_->Width, scratch.thumbnail_->Height);
  else
    scratch.ResizeBox(Width, Height);
  AdoptLoadFrom(scratch);
}

}  // namespace quorvex

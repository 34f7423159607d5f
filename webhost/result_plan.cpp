#include "webhost/result_plan.h"

#include <algorithm>
#include <limits>

#include "imaging/fill_box.h"
#include "imaging/fit_in_box.h"
#include "imaging/raster_image.h"
#include "imaging/rotate.h"

namespace quorvex::webhost {

namespace {

// Sizes as the object's transforms compute them (the imaging layer's own arithmetic where there
// is one); nothing where the size depends on a picture whose size is not known.
using Size = std::optional<PictureSize>;

// A side beyond a signed 32-bit size: more than any pixel limit allows, and small enough that
// the product of two cannot overflow.
constexpr int64_t kBeyond = int64_t{1} << 31;

Size Known(int64_t width, int64_t height) {
  return PictureSize{std::clamp<int64_t>(width, 0, kBeyond),
                     std::clamp<int64_t>(height, 0, kBeyond)};
}

Size Resized(Size picture, int64_t width, int64_t height) {
  width = std::max<int64_t>(width, 0);
  height = std::max<int64_t>(height, 0);
  if (width == 0 && height == 0) return picture;
  if (width != 0 && height != 0) return Known(width, height);
  if (!picture || picture->height == 0 || picture->width == 0) return std::nullopt;
  if (width == 0) return Known(height * picture->width / picture->height, height);
  return Known(width, width * picture->height / picture->width);
}

Size Scaled(Size picture, int64_t percent) {
  if (percent <= 0) return picture;
  if (!picture) return std::nullopt;
  return Known(percent * picture->width / 100, percent * picture->height / 100);
}

Size Boxed(Size picture, int64_t width, int64_t height, bool atLeastOne) {
  if (!picture || picture->width == 0 || picture->height == 0) return std::nullopt;
  const std::optional<TFitSize> fit = FitInBox(picture->width, picture->height, width, height);
  if (!fit) return picture;
  if (atLeastOne) return Known(std::max<int64_t>(fit->Width, 1), std::max<int64_t>(fit->Height, 1));
  return Known(fit->Width, fit->Height);
}

// Whether the picture's sides fit the imaging layer's 32-bit sizes (larger ones are refused
// before they are used).
bool Fits(const Size& picture) {
  return picture && picture->width <= std::numeric_limits<int32_t>::max() &&
         picture->height <= std::numeric_limits<int32_t>::max();
}

Size Filled(Size picture, int64_t width, int64_t height) {
  if (!Fits(picture) || picture->width == 0 || picture->height == 0) return std::nullopt;
  width = std::max<int64_t>(width, 0);
  height = std::max<int64_t>(height, 0);
  if (width == 0 || height == 0) {
    if ((width == 0 || width >= picture->width) && (height == 0 || height >= picture->height))
      return picture;
    return Resized(picture, width, height);
  }
  const TFillPlan plan = PlanFill(
      {static_cast<int32_t>(picture->width), static_cast<int32_t>(picture->height)},
      {static_cast<int32_t>(std::min<int64_t>(width, std::numeric_limits<int32_t>::max())),
       static_cast<int32_t>(std::min<int64_t>(height, std::numeric_limits<int32_t>::max()))});
  return Known(plan.Cut.Width, plan.Cut.Height);
}

Size Rotated(Size picture, double angle) {
  if (!Fits(picture)) return std::nullopt;
  if (picture->width == 0 || picture->height == 0) return picture;
  try {
    const TRotatedSize size =
        RotatedSize(static_cast<int32_t>(picture->width), static_cast<int32_t>(picture->height),
                    RotationFor(static_cast<float>(angle)));
    return Known(size.width, size.height);
  } catch (...) {
    return Known(kBeyond, kBeyond);
  }
}

uint64_t RasterBytes(Size picture) {
  if (!Fits(picture)) return 0;
  return uint64_t{TBitmap::StrideFor(static_cast<int32_t>(picture->width), TPixelFormat::pf24bit)} *
         static_cast<uint64_t>(picture->height);
}

std::string SizeText(const PictureSize& size) {
  return std::to_string(size.width) + "x" + std::to_string(size.height);
}

}  // namespace

bool LoadsUpright(const std::vector<client::Step>& steps) {
  const client::Step* orient = client::FindStep(steps, "auto-orient");
  return orient == nullptr || orient->real != 0;
}

ResultPlan PlanResults(std::optional<PictureSize> source, const std::vector<client::Step>& steps,
                       int64_t maxPixels, const client::OutputFormat& format) {
  ResultPlan plan;
  Size picture = source;
  const client::Step* fit = client::FindStep(steps, "fit");
  const bool cover = fit != nullptr && fit->text == "cover";
  // The load comes first, wherever its step stands; the transforms follow in order.
  for (const bool load : {true, false}) {
    for (const client::Step& step : steps) {
      const std::string_view name = step.operation->name;
      if ((step.operation->stage == client::Stage::Load) != load ||
          step.operation->kind != client::Kind::Transform)
        continue;
      const std::vector<int32_t>& n = step.numbers;
      Size result = picture;
      if (name == "thumbnail")
        result = cover ? Filled(picture, n[0], n[1]) : Boxed(picture, n[0], n[1], true);
      else if (name == "resize")
        result = Resized(picture, n[0], n[1]);
      else if (name == "scale")
        result = Scaled(picture, n[0]);
      else if (name == "box")
        result = Boxed(picture, n[0], n[1], false);
      else if (name == "fill")
        result = Filled(picture, n[0], n[1]);
      else if (name == "rotate")
        result = Rotated(picture, step.real);
      else if (name == "crop")
        result = Known(std::abs(int64_t{n[2]} - n[0]), std::abs(int64_t{n[3]} - n[1]));
      if (result && result->width * result->height > maxPixels) {
        plan.refusal = std::string(name) + ": " + SizeText(*result) +
                       " cannot be made: it has more than " + std::to_string(maxPixels) + " pixels";
        return plan;
      }
      // A load's decode is reserved by the load itself.
      if (!load)
        plan.transformBytes =
            std::max(plan.transformBytes, RasterBytes(picture) + RasterBytes(result));
      picture = result;
    }
  }
  if (picture && std::max(picture->width, picture->height) > format.maxSide)
    plan.refusal = SizeText(*picture) + " cannot be written: a " + std::string(format.title) +
                   " side is at most " + std::to_string(format.maxSide) + " pixels";
  return plan;
}

}  // namespace quorvex::webhost

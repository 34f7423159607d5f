// The Resize object's crop-to-fill and the settings that shape it: FillBox, Gravity, Fit and
// Sharpen.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>

#include "component/component_errors.h"
#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imaging/errors.h"

namespace quorvex {

namespace {

struct TGravityName {
  std::string_view Name;
  TGravity Value;
};
constexpr TGravityName kGravityNames[] = {
    {"center", TGravity::Center},       {"north", TGravity::North},
    {"south", TGravity::South},         {"east", TGravity::East},
    {"west", TGravity::West},           {"northeast", TGravity::NorthEast},
    {"northwest", TGravity::NorthWest}, {"southeast", TGravity::SouthEast},
    {"southwest", TGravity::SouthWest}, {"attention", TGravity::Attention},
    {"entropy", TGravity::Entropy},
};

// Setting names are ASCII words compared without regard to case.
std::string Lowered(BSTR value) {
  std::string text = BstrToUtf8(value);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The largest sharpening strength kept: far beyond anything useful, it only keeps the gain finite.
constexpr double kMaxSharpen = 10.0;

}  // namespace

BSTR TResize::Gravity() const {
  for (const TGravityName& entry : kGravityNames)
    if (entry.Value == gravity_) return Utf8ToNewBstr(entry.Name);
  return Utf8ToNewBstr("center");
}

void TResize::SetGravity(BSTR value) {
  const std::string name = Lowered(value);
  for (const TGravityName& entry : kGravityNames) {
    if (entry.Name == name) {
      gravity_ = entry.Value;
      return;
    }
  }
  throw EInvalidGraphic("Unsupported gravity.");
}

BSTR TResize::Fit() const {
  return Utf8ToNewBstr(cover_ ? "cover" : "inside");
}

void TResize::SetFit(BSTR value) {
  const std::string name = Lowered(value);
  if (name != "inside" && name != "cover") throw EInvalidGraphic("Unsupported fit.");
  cover_ = name == "cover";
}

void TResize::SetSharpen(double value) {
  // Not a number would make every sharpened pixel undefined: refused like any bad argument.
  if (std::isnan(value)) throw EVariantError();
  sharpen_ = std::clamp(value, 0.0, kMaxSharpen);
}

void TResize::FillBox(LONG Width, LONG Height) {
  const LONG width = std::max<LONG>(Width, 0), height = std::max<LONG>(Height, 0);
  // Without both sides there is nothing to cut: the given side governs, as ResizeImage derives
  // the other, and the picture is never enlarged.
  if (width == 0 || height == 0) {
    if ((width == 0 || width >= image_.Width()) && (height == 0 || height >= image_.Height()))
      return;
    ResizeImage(width, height);
    return;
  }
  if (image_.Height() == 0) return;
  if (image_.Width() == 0) throw EDivByZero();
  const TFillPlan plan = PlanFill({image_.Width(), image_.Height()}, {width, height});
  // The scaled picture becomes the image only with the cut, so a failure changes nothing.
  if (plan.Shrinks)
    CutAlongGravity(*Resized(plan.Scaled.Width, plan.Scaled.Height), plan.Cut);
  else
    CutAlongGravity(image_, plan.Cut);
}

void TResize::CutAlongGravity(const TBitmap& picture, TSize cut) {
  TBitmap result;
  CutWindow(picture, CutOrigin(picture, cut, gravity_), cut, result);
  ReplaceImage(result);
}

}  // namespace quorvex

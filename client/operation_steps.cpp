#include "client/operation_steps.h"

#include <cmath>

#include "client/option_values.h"
#include "client/resize_driver.h"

namespace quorvex::client {

using Kind = Step::Kind;

bool TakesValue(Kind kind) {
  switch (kind) {
    case Kind::Gray:
    case Kind::FlipHorizontal:
    case Kind::FlipVertical:
    case Kind::AutoOrient:
    case Kind::KeepMetadata:
    case Kind::Progressive:
    case Kind::OptimizeCoding:
      return false;
    default:
      return true;
  }
}

bool SetsUpLoad(Kind kind) {
  // Kept metadata is metadata the load held on to, so the load is told first too.
  return kind == Kind::AutoOrient || kind == Kind::MaxPixels || kind == Kind::KeepMetadata;
}

std::optional<Step> ParseStep(Kind kind, std::string_view text) {
  Step step{kind, {}, 0};
  if (!TakesValue(kind)) return text.empty() ? std::optional<Step>(step) : std::nullopt;
  std::optional<std::vector<int32_t>> numbers;
  switch (kind) {
    case Kind::Rotate: {
      const std::optional<float> angle = ParseAngle(text);
      if (!angle || !std::isfinite(*angle)) return std::nullopt;
      step.angle = *angle;
      return step;
    }
    case Kind::Background:
      if (const std::optional<int32_t> colour = ParseColour(text)) numbers = std::vector{*colour};
      break;
    case Kind::Resize:
    case Kind::Box:
    case Kind::Thumbnail:
      numbers = ParseIntegers(text, 'x', 2);
      break;
    case Kind::Crop:
      numbers = ParseIntegers(text, ',', 4);
      break;
    default:
      numbers = ParseIntegers(text, ',', 1);
      break;
  }
  if (!numbers) return std::nullopt;
  step.numbers = std::move(*numbers);
  return step;
}

void ApplyStep(ResizeDriver& object, const Step& step) {
  const auto& n = step.numbers;
  switch (step.kind) {
    case Kind::Quality:
      object.SetJPGQuality(n[0]);
      break;
    case Kind::Dpi:
      object.SetDPI(n[0]);
      break;
    case Kind::Gray:
      object.SetGrayScale(true);
      break;
    case Kind::Background:
      object.SetBackgroundColor(static_cast<uint32_t>(n[0]));
      break;
    case Kind::Resize:
      object.ResizeImage(n[0], n[1]);
      break;
    case Kind::Scale:
      object.ScaleImage(n[0]);
      break;
    case Kind::Box:
      object.ResizeBox(n[0], n[1]);
      break;
    case Kind::Rotate:
      object.RotateImage(step.angle);
      break;
    case Kind::Crop:
      object.CropImage(n[0], n[1], n[2], n[3]);
      break;
    case Kind::FlipHorizontal:
      object.FlipHorizontal();
      break;
    case Kind::FlipVertical:
      object.FlipVertical();
      break;
    case Kind::Thumbnail:
      break;
    case Kind::AutoOrient:
      object.SetAutoOrient(true);
      break;
    case Kind::KeepMetadata:
      object.SetKeepMetadata(true);
      break;
    case Kind::MaxPixels:
      object.SetMaxPixels(n[0]);
      break;
    case Kind::Progressive:
      object.SetProgressive(true);
      break;
    case Kind::OptimizeCoding:
      object.SetOptimizeCoding(true);
      break;
  }
}

}  // namespace quorvex::client

#include "client/operation_steps.h"

#include <charconv>
#include <cmath>

#include "client/resize_driver.h"

namespace quorvex::client {

namespace {

using Kind = Step::Kind;

// A strict decimal int32: an optional minus sign and digits, nothing else.
std::optional<int32_t> Decimal(std::string_view text) {
  if (text.empty() || text == "-") return std::nullopt;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Splits on the separator first, so a stray sign or base prefix cannot join two fields.
std::optional<std::vector<int32_t>> Integers(std::string_view text, char separator, size_t count) {
  std::vector<int32_t> numbers;
  while (true) {
    const size_t cut = text.find(separator);
    const std::optional<int32_t> number = Decimal(text.substr(0, cut));
    if (!number) return std::nullopt;
    numbers.push_back(*number);
    if (cut == std::string_view::npos) break;
    text.remove_prefix(cut + 1);
  }
  if (numbers.size() != count) return std::nullopt;
  return numbers;
}

// 0xBBGGRR (up to eight hexadecimal digits) or a decimal number.
std::optional<int32_t> Color(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<int32_t>(value);
  }
  return Decimal(text);
}

std::optional<float> Angle(std::string_view text) {
  float angle = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), angle,
                                         std::chars_format::fixed | std::chars_format::scientific);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(angle))
    return std::nullopt;
  return angle;
}

}  // namespace

bool TakesValue(Kind kind) {
  return kind != Kind::Gray && kind != Kind::FlipHorizontal && kind != Kind::FlipVertical;
}

std::optional<Step> ParseStep(Kind kind, std::string_view text) {
  Step step{kind, {}, 0};
  if (!TakesValue(kind)) return text.empty() ? std::optional<Step>(step) : std::nullopt;
  std::optional<std::vector<int32_t>> numbers;
  switch (kind) {
    case Kind::Rotate: {
      const std::optional<float> angle = Angle(text);
      if (!angle) return std::nullopt;
      step.angle = *angle;
      return step;
    }
    case Kind::Background:
      if (const std::optional<int32_t> color = Color(text)) numbers = std::vector{*color};
      break;
    case Kind::Resize:
    case Kind::Box:
      numbers = Integers(text, 'x', 2);
      break;
    case Kind::Crop:
      numbers = Integers(text, ',', 4);
      break;
    default:
      numbers = Integers(text, ',', 1);
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
  }
}

}  // namespace quorvex::client

#include "client/value_forms.h"

#include <cctype>
#include <cmath>

#include "client/option_values.h"
#include "client/output_formats.h"

namespace quorvex::client::forms {

namespace {

using Arguments = std::vector<ResizeDriver::Argument>;

bool Integers(std::string_view text, char separator, size_t count, Step& step) {
  std::optional<std::vector<int32_t>> numbers = ParseIntegers(text, separator, count);
  if (numbers) step.numbers = std::move(*numbers);
  return numbers.has_value();
}

bool Real(std::string_view text, double low, Step& step) {
  const std::optional<float> value = ParseAngle(text);
  if (!value || !std::isfinite(*value) || *value < low) return false;
  step.real = *value;
  return true;
}

Arguments Numbers(const Step& step) {
  return Arguments(step.numbers.begin(), step.numbers.end());
}

Arguments Text(const Step& step) {
  return {step.text};
}

}  // namespace

const ValueForm kSize{
    "WIDTHxHEIGHT, like 200x200",
    {},
    [](std::string_view text, Step& step) { return Integers(text, 'x', 2, step); },
    Numbers};

const ValueForm kCorners{
    "X1,Y1,X2,Y2, like 0,0,100,50",
    {},
    [](std::string_view text, Step& step) { return Integers(text, ',', 4, step); },
    Numbers};

const ValueForm kInteger{
    "a whole number, like 80",
    {},
    [](std::string_view text, Step& step) { return Integers(text, ',', 1, step); },
    Numbers};

const ValueForm kColour{"0xBBGGRR or a decimal number, like 0xFFFFFF",
                        {},
                        [](std::string_view text, Step& step) {
                          const std::optional<int32_t> colour = ParseColour(text);
                          if (colour) step.numbers = {*colour};
                          return colour.has_value();
                        },
                        Numbers};

// The object takes an angle as a float.
const ValueForm kAngle{
    "a finite number of degrees, like 90 or -12.5",
    {},
    [](std::string_view text, Step& step) { return Real(text, -HUGE_VAL, step); },
    [](const Step& step) { return Arguments{static_cast<float>(step.real)}; }};

const ValueForm kAmount{"a number of 0 or more, like 1", "1",
                        [](std::string_view text, Step& step) { return Real(text, 0, step); },
                        [](const Step& step) { return Arguments{step.real}; }};

const ValueForm kName{"a word, like center",
                      {},
                      [](std::string_view text, Step& step) {
                        if (text.empty() || text.size() > 32) return false;
                        step.text.clear();
                        for (const char c : text) {
                          if (!std::isalpha(static_cast<unsigned char>(c))) return false;
                          step.text +=
                              static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                        }
                        return true;
                      },
                      Text};

const ValueForm kParts{"a comma list of exif, gps, iptc, xmp and icc", "all",
                       [](std::string_view text, Step& step) {
                         step.text = text == "all" ? std::string() : std::string(text);
                         return true;
                       },
                       Text};

const ValueForm kSwitch{"1 or 0", "1",
                        [](std::string_view text, Step& step) {
                          if (text != "1" && text != "0") return false;
                          step.real = text == "1" ? 1 : 0;
                          return true;
                        },
                        [](const Step& step) { return Arguments{step.real != 0}; }};

const ValueForm kFormat{"jpeg, webp, avif, png or auto",
                        {},
                        [](std::string_view text, Step& step) {
                          const OutputFormat* format = FindOutputFormat(text);
                          if (format == nullptr && text != "auto") return false;
                          step.text = format != nullptr ? format->name : "auto";
                          return true;
                        },
                        Text};

}  // namespace quorvex::client::forms

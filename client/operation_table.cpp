#include "client/operation_table.h"

#include <algorithm>
#include <array>

#include "client/resize_driver.h"
#include "client/value_forms.h"

namespace quorvex::client {

namespace {

using Object = ResizeDriver;
using forms::kAmount, forms::kAngle, forms::kColour, forms::kCorners, forms::kFormat,
    forms::kInteger, forms::kName, forms::kParts, forms::kSize, forms::kSwitch;

// Settings the load works with come first wherever they stand: the load keeps the metadata it
// is told to, turns the picture upright, and a thumbnail load fills, cuts and sharpens.
const std::array kOperations{
    Operation{"quality", "Q", Arity::Required, &kInteger, "JPGQuality", Call::Put, Stage::AfterLoad,
              Kind::Setting, "JPEG quality 0..100 (default 90)"},
    Operation{"dpi", "N", Arity::Required, &kInteger, "DPI", Call::Put, Stage::AfterLoad,
              Kind::Setting, "resolution written into the JPEG, 0..65535"},
    Operation{"gray", "", Arity::None, nullptr, "GrayScale", Call::Put, Stage::AfterLoad,
              Kind::Setting, "write a grayscale JPEG"},
    Operation{"background", "0xBBGGRR", Arity::Required, &kColour, "BackgroundColor", Call::Put,
              Stage::AfterLoad, Kind::Setting, "colour of uncovered areas (default 0xFFFFFF)"},
    Operation{"resize",
              "WxH",
              Arity::Required,
              &kSize,
              "ResizeImage",
              Call::Method,
              Stage::AfterLoad,
              Kind::Transform,
              "resize to WxH; a side of 0 keeps the aspect ratio",
              kBothHosts,
              {},
              {},
              true},
    Operation{"scale", "PCT", Arity::Required, &kInteger, "ScaleImage", Call::Method,
              Stage::AfterLoad, Kind::Transform, "scale by PCT percent"},
    Operation{"box", "WxH", Arity::Required, &kSize, "ResizeBox", Call::Method, Stage::AfterLoad,
              Kind::Transform, "shrink to fit inside WxH, keeping the aspect ratio"},
    Operation{"rotate", "DEG", Arity::Required, &kAngle, "RotateImage", Call::Method,
              Stage::AfterLoad, Kind::Transform, "rotate by DEG degrees, counter-clockwise"},
    Operation{"crop", "X1,Y1,X2,Y2", Arity::Required, &kCorners, "CropImage", Call::Method,
              Stage::AfterLoad, Kind::Transform, "cut out the rectangle between the corners"},
    Operation{"flip-horizontal", "", Arity::None, nullptr, "FlipHorizontal", Call::Method,
              Stage::AfterLoad, Kind::Transform, "reverse the order of the rows (upside down)"},
    Operation{"flip-vertical", "", Arity::None, nullptr, "FlipVertical", Call::Method,
              Stage::AfterLoad, Kind::Transform, "reverse each row (left and right swap)"},
    Operation{"thumbnail", "WxH", Arity::Required, &kSize, "LoadThumbnail", Call::Load, Stage::Load,
              Kind::Transform, "load already fitted inside WxH (fast for large pictures)"},
    Operation{"auto-orient", "", Arity::Switch, &kSwitch, "AutoOrient", Call::Put,
              Stage::BeforeLoad, Kind::Setting,
              "turn the picture upright by its EXIF orientation as it loads (the default)",
              kBothHosts, "1"},
    Operation{"srgb", "", Arity::Switch, &kSwitch, "ConvertToSRGB", Call::Put, Stage::BeforeLoad,
              Kind::Setting,
              "convert the colours to sRGB through the embedded ICC profile as the picture loads"},
    // The web host holds its own limit.
    Operation{"max-pixels", "N", Arity::Required, &kInteger, "MaxPixels", Call::Put,
              Stage::BeforeLoad, Kind::Setting,
              "refuse to load or make a picture of more than N pixels", kCommandLine},
    // A list of kinds goes to KeepMetadataParts instead.
    Operation{.name = "keep-metadata",
              .placeholder = "LIST",
              .arity = Arity::Attached,
              .form = &kParts,
              .member = "KeepMetadata",
              .call = Call::Put,
              .stage = Stage::BeforeLoad,
              .kind = Kind::Setting,
              .help = "write the loaded metadata with the output; =LIST keeps only the kinds "
                      "listed, of exif, gps, iptc, xmp and icc",
              .apply =
                  [](Object& o, const Step& s) {
                    if (s.text.empty())
                      o.Put("KeepMetadata", true);
                    else
                      o.Put("KeepMetadataParts", s.text);
                  }},
    // "auto" is for the host to resolve: from the output's name, or from the browser's Accept.
    Operation{"format", "FORMAT", Arity::Required, &kFormat, "OutputFormat", Call::Put,
              Stage::AfterLoad, Kind::Setting,
              "jpeg, webp, avif or png; auto (the default) follows OUT's extension"},
    Operation{"progressive", "", Arity::None, nullptr, "Progressive", Call::Put, Stage::AfterLoad,
              Kind::Setting, "write a progressive JPEG"},
    Operation{"optimize-coding", "", Arity::None, nullptr, "OptimizeCoding", Call::Put,
              Stage::AfterLoad, Kind::Setting,
              "optimal Huffman tables: a smaller file, the same pixels"},
    Operation{"fill", "WxH", Arity::Required, &kSize, "FillBox", Call::Method, Stage::AfterLoad,
              Kind::Transform,
              "scale to cover WxH and cut the overflow along --gravity (never enlarges)"},
    Operation{"gravity",
              "G",
              Arity::Required,
              &kName,
              "Gravity",
              Call::Put,
              Stage::BeforeLoad,
              Kind::Setting,
              "where --fill cuts: center, north, south, east, west, northeast, northwest, "
              "southeast, southwest, attention or entropy",
              kBothHosts,
              {},
              "a word, like center or attention"},
    Operation{"fit",
              "inside|cover",
              Arity::Required,
              &kName,
              "Fit",
              Call::Put,
              Stage::BeforeLoad,
              Kind::Setting,
              "inside (default) or cover: how --thumbnail fills its box",
              kBothHosts,
              {},
              "inside or cover"},
    Operation{"sharpen", "AMOUNT", Arity::Optional, &kAmount, "Sharpen", Call::Put,
              Stage::BeforeLoad, Kind::Setting,
              "sharpen after every shrink, AMOUNT 0..10 (1 when omitted)"},
};

}  // namespace

std::span<const Operation> Operations() {
  return kOperations;
}

const Operation* FindOperation(std::string_view name) {
  const auto found = std::find_if(kOperations.begin(), kOperations.end(),
                                  [&](const Operation& row) { return row.name == name; });
  return found == kOperations.end() ? nullptr : &*found;
}

const Step* FindStep(const std::vector<Step>& steps, std::string_view name) {
  const auto found = std::find_if(steps.rbegin(), steps.rend(),
                                  [&](const Step& step) { return step.operation->name == name; });
  return found == steps.rend() ? nullptr : &*found;
}

std::optional<Step> ParseStep(const Operation& operation, std::optional<std::string_view> value) {
  Step step;
  step.operation = &operation;
  if (operation.arity == Arity::None) return value ? std::nullopt : std::optional<Step>(step);
  if (!value && operation.arity == Arity::Required) return std::nullopt;
  if (!operation.form->read(value.value_or(operation.form->bare), step)) return std::nullopt;
  return step;
}

std::string ValueError(const Operation& operation, std::optional<std::string_view> value) {
  if (operation.arity == Arity::None) return "takes no value";
  const std::string_view expected =
      operation.expected.empty() ? operation.form->expected : operation.expected;
  std::string text = "expected " + std::string(expected);
  if (value) text += ", not '" + std::string(*value) + "'";
  return text;
}

std::string_view GivenFormat(const std::vector<Step>& steps) {
  const Step* given = FindStep(steps, "format");
  return given != nullptr ? std::string_view(given->text) : "auto";
}

void SettleFormat(std::vector<Step>& steps, std::string_view name) {
  bool found = false;
  for (Step& step : steps) {
    if (step.operation->name != "format") continue;
    found = true;
    if (step.text == "auto") step.text = name;
  }
  if (!found) steps.push_back(ParseStep(*FindOperation("format"), name).value());
}

void ApplyStep(ResizeDriver& object, const Step& step) {
  const Operation& row = *step.operation;
  if (row.apply != nullptr) return row.apply(object, step);
  // A flag is a property set to true, or a method without arguments.
  std::vector<ResizeDriver::Argument> arguments;
  if (row.form != nullptr)
    arguments = row.form->arguments(step);
  else if (row.call == Call::Put)
    arguments = {true};
  const std::string member(row.member);
  switch (row.call) {
    case Call::Put:
      object.Put(member, arguments.at(0));
      break;
    case Call::Method:
      object.Invoke(member, arguments);
      break;
    case Call::Load:
      break;
  }
}

std::string CommandLineUsage(const Operation& operation) {
  const std::string name(operation.name), value(operation.placeholder);
  switch (operation.arity) {
    case Arity::None:
      return "--" + name;
    case Arity::Required:
      return "--" + name + " " + value;
    case Arity::Optional:
      return "--" + name + " [" + value + "]";
    case Arity::Attached:
      return "--" + name + "[=" + value + "]";
    case Arity::Switch:
      return "--[no-]" + name;
  }
  return {};
}

std::vector<Step> WithHostDefaults(std::vector<Step> steps, unsigned host) {
  std::vector<Step> all;
  for (const Operation& row : kOperations) {
    if (row.hostDefault.empty() || (row.hosts & host) == 0 ||
        std::any_of(steps.begin(), steps.end(),
                    [&](const Step& step) { return step.operation == &row; }))
      continue;
    if (std::optional<Step> step = ParseStep(row, row.hostDefault)) all.push_back(std::move(*step));
  }
  all.insert(all.end(), std::make_move_iterator(steps.begin()),
             std::make_move_iterator(steps.end()));
  return all;
}

}  // namespace quorvex::client

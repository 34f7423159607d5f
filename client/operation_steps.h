// The operations and settings a client applies to a Resize object, with the value forms the
// command line and the web host share: "WxH", "X1,Y1,X2,Y2", decimal integers, a decimal angle,
// and a colour as 0xBBGGRR or a decimal number.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quorvex::client {

class ResizeDriver;

struct Step {
  enum class Kind {
    Quality,
    Dpi,
    Gray,
    Background,
    Resize,
    Scale,
    Box,
    Rotate,
    Crop,
    FlipHorizontal,
    FlipVertical,
    Thumbnail,  // the load itself, fitted into WxH
    AutoOrient,
    KeepMetadata,
    MaxPixels,
    Progressive,
    OptimizeCoding
  };
  Kind kind;
  std::vector<int32_t> numbers;  // the integer arguments
  float angle = 0;               // for Rotate
};

// Whether the operation takes a value (flags such as Gray do not).
bool TakesValue(Step::Kind kind);

// Whether the step is a setting the load works with, applied before the load wherever it stands.
bool SetsUpLoad(Step::Kind kind);

// The step of this kind with its value read from text; nullopt when the text is not a value of
// the kind's form. Flags take an empty text.
std::optional<Step> ParseStep(Step::Kind kind, std::string_view text);

// Calls the object's member for the step. A Thumbnail step is the load (step_sequence.h) and
// calls nothing here.
void ApplyStep(ResizeDriver& object, const Step& step);

}  // namespace quorvex::client

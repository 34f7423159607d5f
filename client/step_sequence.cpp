#include "client/step_sequence.h"

#include <algorithm>

#include "client/resize_driver.h"

namespace quorvex::client {

namespace {

void ApplyAt(ResizeDriver& object, const std::vector<Step>& steps, Stage stage) {
  for (const Step& step : steps)
    if (step.operation->stage == stage) ApplyStep(object, step);
}

}  // namespace

void LoadAndApply(ResizeDriver& object, const ImageSource& source, const std::vector<Step>& steps) {
  ApplyAt(object, steps, Stage::BeforeLoad);
  const auto thumbnail = std::find_if(steps.begin(), steps.end(), [](const Step& step) {
    return step.operation->stage == Stage::Load;
  });
  if (thumbnail == steps.end()) {
    if (source.inMemory) {
      object.VariantIn(*source.bytes);
    } else {
      object.LoadFromFile(source.file);
    }
  } else {
    const int32_t width = thumbnail->numbers[0], height = thumbnail->numbers[1];
    if (source.inMemory) {
      object.LoadThumbnail(*source.bytes, width, height);
    } else {
      object.LoadThumbnail(source.file, width, height);
    }
  }
  ApplyAt(object, steps, Stage::AfterLoad);
}

}  // namespace quorvex::client

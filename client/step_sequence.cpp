#include "client/step_sequence.h"

#include <algorithm>

#include "client/resize_driver.h"

namespace quorvex::client {

void LoadAndApply(ResizeDriver& object, const ImageSource& source, const std::vector<Step>& steps) {
  for (const Step& step : steps)
    if (SetsUpLoad(step.kind)) ApplyStep(object, step);
  const auto thumbnail = std::find_if(steps.begin(), steps.end(), [](const Step& step) {
    return step.kind == Step::Kind::Thumbnail;
  });
  if (thumbnail == steps.end()) {
    if (source.inMemory) {
      object.VariantIn(source.bytes.data(), source.bytes.size());
    } else {
      object.LoadFromFile(source.file);
    }
  } else {
    const int32_t width = thumbnail->numbers[0], height = thumbnail->numbers[1];
    if (source.inMemory) {
      object.LoadThumbnail(source.bytes, width, height);
    } else {
      object.LoadThumbnail(source.file, width, height);
    }
  }
  for (const Step& step : steps)
    if (!SetsUpLoad(step.kind)) ApplyStep(object, step);
}

}  // namespace quorvex::client

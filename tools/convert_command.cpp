#include <ostream>

#include "tools/commands.h"
#include "tools/resize_driver.h"

namespace quorvex::tools {

namespace {

void Apply(ResizeDriver& object, const ConvertStep& step) {
  const auto& n = step.numbers;
  switch (step.kind) {
    case ConvertStep::Kind::Quality:
      object.SetJPGQuality(n[0]);
      break;
    case ConvertStep::Kind::Dpi:
      object.SetDPI(n[0]);
      break;
    case ConvertStep::Kind::Gray:
      object.SetGrayScale(true);
      break;
    case ConvertStep::Kind::Background:
      object.SetBackgroundColor(static_cast<uint32_t>(n[0]));
      break;
    case ConvertStep::Kind::Resize:
      object.ResizeImage(n[0], n[1]);
      break;
    case ConvertStep::Kind::Scale:
      object.ScaleImage(n[0]);
      break;
    case ConvertStep::Kind::Box:
      object.ResizeBox(n[0], n[1]);
      break;
    case ConvertStep::Kind::Rotate:
      object.RotateImage(step.angle);
      break;
    case ConvertStep::Kind::Crop:
      object.CropImage(n[0], n[1], n[2], n[3]);
      break;
    case ConvertStep::Kind::FlipHorizontal:
      object.FlipHorizontal();
      break;
    case ConvertStep::Kind::FlipVertical:
      object.FlipVertical();
      break;
  }
}

}  // namespace

int RunConvert(const std::string& input, const std::string& output,
               const std::vector<ConvertStep>& steps, std::ostream& out, std::ostream& err) {
  try {
    ResizeDriver object;
    object.LoadFromFile(input);
    for (const ConvertStep& step : steps) Apply(object, step);
    if (output == "-") {
      const std::vector<uint8_t> bytes = object.VariantOut();
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      out.flush();
      if (!out) {
        err << "quorvex: cannot write to standard output\n";
        return 1;
      }
    } else {
      object.SaveToFile(output);
    }
    return 0;
  } catch (const DriverError& e) {
    err << "quorvex: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace quorvex::tools

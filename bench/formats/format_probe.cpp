// Encodes one photo the way the Resize object's outputs do, for run_formats_bench.py: loads
// PHOTO, optionally writes the loaded pixels as a binary PPM (the reference the metric compares
// with), then encodes ROUNDS times in FORMAT at JPGQuality and prints the median CPU seconds of
// one encode; the last output goes to OUT. With --mapping JPGQUALITY it prints the WebP quality
// and AV1 quantizer that quality maps to.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imageformats/format_quality.h"

namespace {

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool WritePpm(const quorvex::TBitmap& image, const std::string& name) {
  FILE* out = std::fopen(name.c_str(), "wb");
  if (out == nullptr) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", image.Width(), image.Height());
  for (int32_t y = 0; y < image.Height(); ++y)
    for (int32_t x = 0; x < image.Width(); ++x) {
      const uint8_t* p = image.ScanLine(y) + 3 * x;
      const unsigned char rgb[3] = {p[2], p[1], p[0]};
      std::fwrite(rgb, 1, 3, out);
    }
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The settings the mapping gives a JPGQuality, for the anchors to be run with.
  if (argc == 3 && std::string(argv[1]) == "--mapping") {
    const int quality = std::stoi(argv[2]);
    std::printf("%d %d\n", quorvex::WebPQuality(quality), quorvex::AvifQuantizer(quality));
    return 0;
  }
  if (argc < 6) {
    std::fprintf(stderr, "usage: format_probe PHOTO FORMAT JPGQUALITY ROUNDS OUT [REFERENCE.ppm]\n");
    return 2;
  }
  quorvex::TResize resize;
  BSTR photo = quorvex::Utf8ToNewBstr(argv[1]);
  BSTR format = quorvex::Utf8ToNewBstr(argv[2]);
  try {
    resize.LoadFromFile(photo);
    resize.SetOutputFormat(format);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "format_probe: %s\n", error.what());
    return 1;
  }
  SysFreeString(photo);
  SysFreeString(format);
  resize.SetJPGQuality(std::stoi(argv[3]));
  if (argc > 6 && !WritePpm(resize.Image(), argv[6])) return 1;
  std::vector<double> times;
  VARIANT bytes;
  VariantInit(&bytes);
  for (int round = std::max(1, std::stoi(argv[4])); round > 0; --round) {
    VariantClear(&bytes);
    const double start = CpuSeconds();
    resize.VariantOut(&bytes);
    times.push_back(CpuSeconds() - start);
  }
  std::sort(times.begin(), times.end());
  FILE* out = std::fopen(argv[5], "wb");
  if (out == nullptr) return 1;
  std::fwrite(V_ARRAY(&bytes)->pvData, 1, V_ARRAY(&bytes)->rgsabound[0].cElements, out);
  std::fclose(out);
  VariantClear(&bytes);
  std::printf("%.6f\n", times[times.size() / 2]);
  return 0;
}

// Writes the thumbnails that sharpen_bench.py measures: a photo fitted into a box by the Resize
// object, once per sharpening strength, as binary PPM files.
#include <cstdio>
#include <string>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: sharpen_probe PHOTO BOX OUT_PREFIX AMOUNT...\n");
    return 2;
  }
  const LONG box = std::stoi(argv[2]);
  BSTR photo = quorvex::Utf8ToNewBstr(argv[1]);
  for (int i = 4; i < argc; ++i) {
    quorvex::TResize resize;
    resize.SetSharpen(std::stod(argv[i]));
    resize.LoadFromFile(photo);
    resize.ResizeBox(box, box);
    const quorvex::TBitmap& image = resize.Image();
    const std::string name = std::string(argv[3]) + argv[i] + ".ppm";
    FILE* out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) return 1;
    std::fprintf(out, "P6\n%d %d\n255\n", image.Width(), image.Height());
    for (int32_t y = 0; y < image.Height(); ++y)
      for (int32_t x = 0; x < image.Width(); ++x) {
        const uint8_t* p = image.ScanLine(y) + 3 * x;
        const unsigned char rgb[3] = {p[2], p[1], p[0]};
        std::fwrite(rgb, 1, 3, out);
      }
    std::fclose(out);
  }
  SysFreeString(photo);
  return 0;
}

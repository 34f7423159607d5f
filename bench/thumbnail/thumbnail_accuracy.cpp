// The accuracy table of LoadThumbnail: for every file and box, the mean absolute difference
// (levels per channel byte) between LoadThumbnail's pixels and the exact path's (the full decode
// area-averaged to the same size). With --scales, the same difference for each DCT scale a
// thumbnail could be decoded at, which is what the choice of scale rests on.
//
// Usage: thumbnail_accuracy [--scales] FILE...
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "component/resize_object.h"
#include "comserver/text_conversion.h"
#include "imaging/fit_in_box.h"
#include "imaging/halftone.h"
#include "imaging/resize.h"
#include "jpegextra/jpeg_image.h"
#include "platform/com_ptr.h"

namespace {

using quorvex::TBitmap;

constexpr std::pair<int, int> kBoxes[] = {{1, 1},     {8, 8},     {16, 16},   {32, 32},
                                          {64, 64},   {128, 128}, {200, 200}, {256, 256},
                                          {320, 320}, {300, 100}};

std::vector<uint8_t> ReadFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using TRaster = std::unique_ptr<TBitmap>;

TRaster Decode(const std::vector<uint8_t>& bytes, uint8_t eighths) {
  quorvex::TJPEGImage jpeg;
  jpeg.LoadFromBytes(bytes);
  jpeg.SetDecodeScale(eighths);
  auto raster = std::make_unique<TBitmap>();
  jpeg.AssignTo(*raster);
  return raster;
}

TRaster Shrunk(const TBitmap& source, int64_t width, int64_t height) {
  TRaster result;
  quorvex::ResizeBitmap(static_cast<int32_t>(width), static_cast<int32_t>(height), result, source);
  return result;
}

double MeanDifference(const TBitmap& a, const TBitmap& b) {
  const size_t rowBytes = static_cast<size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
  double sum = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (size_t i = 0; i < rowBytes; ++i) sum += std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]);
  return sum / (static_cast<double>(rowBytes) * a.Height());
}

// The box's size with sides that round to 0 made 1, as LoadThumbnail gives it.
quorvex::TFitSize Fitted(const TBitmap& full, int box, int boxHeight) {
  auto size = quorvex::FitInBox(full.Width(), full.Height(), box, boxHeight);
  if (!size) return {full.Width(), full.Height()};
  size->Width = std::max<int64_t>(size->Width, 1);
  size->Height = std::max<int64_t>(size->Height, 1);
  return *size;
}

TRaster Thumbnail(const char* name, int width, int height) {
  quorvex::TResize object;
  quorvex::TBstr file(quorvex::FileNameToNewBstr(name));
  VARIANT source;
  VariantInit(&source);
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = file.get();
  object.LoadThumbnail(source, width, height);
  auto copy = std::make_unique<TBitmap>();
  copy->CopyFrom(object.Image());
  return copy;
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

int main(int argc, char** argv) {
  const bool scales = argc > 1 && std::strcmp(argv[1], "--scales") == 0;
  std::printf("%-34s", scales ? "file, box: 1/8 .. 7/8" : "file");
  if (!scales)
    for (const auto& [w, h] : kBoxes)
      std::printf(" %7s", (std::to_string(w) + "x" + std::to_string(h)).c_str());
  std::printf("\n");
  for (int i = scales ? 2 : 1; i < argc; ++i) {
    try {
      const std::vector<uint8_t> bytes = ReadFile(argv[i]);
      const TRaster fullRaster = Decode(bytes, 8);
      const TBitmap& full = *fullRaster;
      const std::string label = std::string(BaseName(argv[i])) + " " +
                                std::to_string(full.Width()) + "x" + std::to_string(full.Height());
      if (!scales) std::printf("%-34s", label.c_str());
      std::vector<TRaster> scaled;
      for (uint8_t eighths = 1; scales && eighths < 8; ++eighths)
        scaled.push_back(Decode(bytes, eighths));
      for (const auto& [w, h] : kBoxes) {
        const quorvex::TFitSize size = Fitted(full, w, h);
        const TRaster exact = Shrunk(full, size.Width, size.Height);
        if (!scales) {
          std::printf(" %7.2f", MeanDifference(*Thumbnail(argv[i], w, h), *exact));
          continue;
        }
        std::printf("%-26s %4dx%-4d", label.c_str(), w, h);
        for (size_t k = 0; k < scaled.size(); ++k) {
          // As the thumbnail load finishes a scaled decode: over the frame's extent.
          const int64_t eighths = static_cast<int64_t>(k) + 1;
          TBitmap fitted;
          fitted.SetPixelFormat(scaled[k]->PixelFormat());
          fitted.SetSize(static_cast<int32_t>(size.Width), static_cast<int32_t>(size.Height));
          if (size.Width > scaled[k]->Width() || size.Height > scaled[k]->Height()) {
            std::printf("     -");
            continue;
          }
          quorvex::ShrinkHalftoneOver(fitted, *scaled[k], {full.Width() * eighths, 8},
                                      {full.Height() * eighths, 8});
          std::printf(" %5.2f", MeanDifference(fitted, *exact));
        }
        std::printf("\n");
      }
      if (!scales) std::printf("\n");
    } catch (const std::exception& e) {
      std::printf("%s: %s\n", argv[i], e.what());
    }
  }
  return 0;
}

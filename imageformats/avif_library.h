// libavif, opened on the first AVIF encode rather than when the module loads: the library brings
// some twenty more (its AV1 codecs and their runtimes), which would otherwise cost every process
// that never writes AVIF their loading time and memory.
#pragma once

#include <avif/avif.h>

namespace quorvex {

struct TAvifLibrary {
  decltype(&avifResultToString) ResultToString = nullptr;
  decltype(&avifImageCreate) ImageCreate = nullptr;
  decltype(&avifImageDestroy) ImageDestroy = nullptr;
  decltype(&avifImageAllocatePlanes) ImageAllocatePlanes = nullptr;
  decltype(&avifRGBImageSetDefaults) RGBImageSetDefaults = nullptr;
  decltype(&avifImageRGBToYUV) ImageRGBToYUV = nullptr;
  decltype(&avifImageSetProfileICC) ImageSetProfileICC = nullptr;
  decltype(&avifImageSetMetadataExif) ImageSetMetadataExif = nullptr;
  decltype(&avifImageSetMetadataXMP) ImageSetMetadataXMP = nullptr;
  decltype(&avifEncoderCreate) EncoderCreate = nullptr;
  decltype(&avifEncoderDestroy) EncoderDestroy = nullptr;
  decltype(&avifEncoderWrite) EncoderWrite = nullptr;
  decltype(&avifRWDataFree) RWDataFree = nullptr;
};

// The library's entry points, opened once per process and kept open. Throws EInvalidGraphic
// naming the library when it is missing or lacks one of them.
const TAvifLibrary& AvifLibrary();

}  // namespace quorvex

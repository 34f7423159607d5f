#include "imageformats/avif_library.h"

#include <dlfcn.h>

#include <string>

#include "imaging/errors.h"

namespace quorvex {
namespace {

// The outcome of the one attempt to open the library: its entry points, or why it failed.
struct TOpened {
  TAvifLibrary Library;
  std::string Failure;
};

template <typename Function>
bool Bind(void* handle, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(dlsym(handle, name));
  return entry != nullptr;
}

TOpened Open() {
  TOpened opened;
  // Never closed: encoders of other threads may still be inside it, and reopening costs the
  // loading this defers.
  void* handle = dlopen(QUORVEX_AVIF_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    opened.Failure = QUORVEX_AVIF_SONAME " cannot be loaded";
    return opened;
  }
  TAvifLibrary& l = opened.Library;
  const bool bound = Bind(handle, "avifResultToString", l.ResultToString) &&
                     Bind(handle, "avifImageCreate", l.ImageCreate) &&
                     Bind(handle, "avifImageDestroy", l.ImageDestroy) &&
                     Bind(handle, "avifImageAllocatePlanes", l.ImageAllocatePlanes) &&
                     Bind(handle, "avifRGBImageSetDefaults", l.RGBImageSetDefaults) &&
                     Bind(handle, "avifImageRGBToYUV", l.ImageRGBToYUV) &&
                     Bind(handle, "avifImageSetProfileICC", l.ImageSetProfileICC) &&
                     Bind(handle, "avifImageSetMetadataExif", l.ImageSetMetadataExif) &&
                     Bind(handle, "avifImageSetMetadataXMP", l.ImageSetMetadataXMP) &&
                     Bind(handle, "avifEncoderCreate", l.EncoderCreate) &&
                     Bind(handle, "avifEncoderDestroy", l.EncoderDestroy) &&
                     Bind(handle, "avifEncoderWrite", l.EncoderWrite) &&
                     Bind(handle, "avifRWDataFree", l.RWDataFree);
  if (!bound) opened.Failure = QUORVEX_AVIF_SONAME " lacks an entry point";
  return opened;
}

}  // namespace

const TAvifLibrary& AvifLibrary() {
  static const TOpened opened = Open();
  if (!opened.Failure.empty())
    throw EInvalidGraphic("AVIF encoding failed: " + opened.Failure + ".");
  return opened.Library;
}

}  // namespace quorvex

#include "jpegextra/lcms_memory.h"

#include <lcms2_plugin.h>

#include <cstdlib>
#include <limits>

#include "jpegextra/lcms_handles.h"

namespace quorvex::lcms {

namespace {

// Without a bound in force, any allocation passes.
constexpr uint64_t kUnbounded = std::numeric_limits<uint64_t>::max();
// The library's own largest allocation, which a memory handler takes over.
constexpr uint64_t kLibraryMost = uint64_t{512} << 20;

// A real profile's tables are at most a few times its bytes; a conversion adds its own tables,
// the largest a CMYK grid of about 2 MB; the floors leave room for those.
constexpr uint64_t kSingleFloor = uint64_t{8} << 20;
constexpr uint64_t kTotalFloor = uint64_t{64} << 20;
constexpr uint64_t kSingleFactor = 4;
constexpr uint64_t kTotalFactor = 16;

thread_local uint64_t singleLimit = kUnbounded;
thread_local uint64_t totalLeft = kUnbounded;

// Counts an allocation of size against the bounds; false when it must be refused.
bool Admit(cmsUInt32Number size) noexcept {
  if (size > kLibraryMost || size > singleLimit || size > totalLeft) return false;
  if (totalLeft != kUnbounded) totalLeft -= size;
  return true;
}

void* Allocate(cmsContext, cmsUInt32Number size) {
  return Admit(size) ? std::malloc(size) : nullptr;
}

void Free(cmsContext, void* block) {
  std::free(block);
}

void* Reallocate(cmsContext, void* block, cmsUInt32Number size) {
  return Admit(size) ? std::realloc(block, size) : nullptr;
}

cmsPluginMemHandler memoryPlugin = {
    {cmsPluginMagicNumber, 2060, cmsPluginMemHandlerSig, nullptr},
    Allocate,
    Free,
    Reallocate,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

cmsContext Context() {
  // Deleted when the module is unloaded: the library keeps its contexts in a list of its own,
  // which would otherwise hold this one's memory past a host's unloading of the component.
  static const OwnedContext context(cmsCreateContext(&memoryPlugin, nullptr));
  return context.get();
}

TMemoryBound::TMemoryBound(size_t profileBytes) noexcept
    : savedSingle_(singleLimit), savedTotal_(totalLeft) {
  singleLimit = kSingleFloor + kSingleFactor * profileBytes;
  totalLeft = kTotalFloor + kTotalFactor * profileBytes;
}

TMemoryBound::~TMemoryBound() {
  singleLimit = savedSingle_;
  totalLeft = savedTotal_;
}

}  // namespace quorvex::lcms

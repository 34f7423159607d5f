#include "imaging/memory_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvex {

namespace {

// The whole units of unit bytes inside [bytes, bytes + size): madvise takes nothing else.
template <uintptr_t unit, typename Advise>
void ForWholeUnits(void* bytes, size_t size, Advise advise) noexcept {
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(bytes) + unit - 1) & ~(unit - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(bytes) + size) & ~(unit - 1);
  if (end > begin) advise(reinterpret_cast<void*>(begin), end - begin);
}

}  // namespace

void PreferHugePages([[maybe_unused]] void* bytes, [[maybe_unused]] size_t size) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes == nullptr || size < kLargeBlockMinimum) return;
  // Whole huge pages only, so that none is split by a neighbour's smaller pages.
  ForWholeUnits<uintptr_t{2} << 20>(
      bytes, size, [](void* at, size_t length) { madvise(at, length, MADV_HUGEPAGE); });
#endif
}

void MapLargeBlock(void* bytes, size_t size) noexcept {
  PreferHugePages(bytes, size);
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (bytes == nullptr || size < kLargeBlockMinimum) return;
  // Older kernels refuse the call (EINVAL); the partial pages at the ends are mapped as written.
  ForWholeUnits<4096>(bytes, size,
                      [](void* at, size_t length) { madvise(at, length, MADV_POPULATE_WRITE); });
#endif
}

}  // namespace quorvex

#include "imaging/block_pool.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorvex {

namespace {

// A few rasters of a few workers, never more than this in all.
constexpr size_t kSlots = 4;
constexpr size_t kMaxPooledBytes = size_t{256} << 20;
struct TPooled {
  uint8_t* bytes = nullptr;
  size_t capacity = 0;
};

// A lock that is constant-initialised and trivially destroyed on every platform (MinGW's
// std::mutex is neither); it is held only to scan the few slots.
class TSpinLock {
 public:
  void lock() noexcept {
    while (held_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  void unlock() noexcept { held_.clear(std::memory_order_release); }

 private:
  std::atomic_flag held_;
};

// Constant-initialised and trivially destroyed: rasters of static objects may be freed after
// every destructor has run.
struct TPool {
  TSpinLock mutex;
  std::array<TPooled, kSlots> blocks{};
  size_t bytes = 0;
  bool closed = false;
};
constinit TPool pool;

// When the module is unloaded (or the process ends), the idle blocks go back to the allocator: a
// host that unloads the component must not lose them. Rasters freed after that are not pooled.
struct TPoolCloser {
  ~TPoolCloser() {
    const std::lock_guard lock(pool.mutex);
    for (TPooled& block : pool.blocks) {
      std::free(block.bytes);
      block = {};
    }
    pool.bytes = 0;
    pool.closed = true;
  }
};
TPoolCloser closer;

// The block's whole 2 MiB pages may be reclaimed while idle (their content is dropped then, and
// reads give zeros); writing to a page that was not reclaimed keeps it, without a fault. Whole
// huge pages only, so none is split, and never the allocator's header before the block.
#if defined(__linux__) && defined(MADV_FREE)
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

void OfferToKernel(uint8_t* bytes, size_t size) noexcept {
  const uintptr_t start = (reinterpret_cast<uintptr_t>(bytes) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(bytes) + size) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_FREE);
}
#endif

}  // namespace

uint8_t* TakePooledBlock(size_t size, size_t& capacity) {
  uint8_t* found = nullptr;
  {
    const std::lock_guard lock(pool.mutex);
    TPooled* best = nullptr;
    // At most half as large again: a small raster does not hold on to a large block.
    for (TPooled& block : pool.blocks)
      if (block.bytes != nullptr && block.capacity >= size && block.capacity - size <= size / 2 &&
          (best == nullptr || block.capacity < best->capacity))
        best = &block;
    if (best == nullptr) return nullptr;
    found = best->bytes;
    capacity = best->capacity;
    pool.bytes -= capacity;
    *best = {};
  }
  std::memset(found, 0, size);
  return found;
}

bool PoolBlock([[maybe_unused]] uint8_t* bytes, [[maybe_unused]] size_t capacity) noexcept {
#if !defined(__linux__) || !defined(MADV_FREE)
  // Idle blocks would stay committed where the kernel cannot be told it may take them.
  return false;
#else
  // Before the block is in the pool, where another thread may take it and write to it at once.
  OfferToKernel(bytes, capacity);
  const std::lock_guard lock(pool.mutex);
  if (pool.closed || pool.bytes + capacity > kMaxPooledBytes) return false;
  for (TPooled& block : pool.blocks)
    if (block.bytes == nullptr) {
      block = {bytes, capacity};
      pool.bytes += capacity;
      return true;
    }
  return false;
#endif
}

}  // namespace quorvex

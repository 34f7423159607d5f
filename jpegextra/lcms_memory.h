// The colour library's context for untrusted profiles. The library sizes many of its tables from
// counts a profile declares, before it reads the data they count: a desc tag of a few bytes that
// declares 33 million translations costs 400 MB and seconds of clearing memory on every load.
// In this context each allocation, and all of them together while a profile is read or a
// conversion is built, are bounded by what a profile of that size can need.
#pragma once

#include <lcms2.h>

#include <cstddef>
#include <cstdint>

namespace quorvex::lcms {

// The component's own context (the host process may use the library too, with its own
// settings), made once; allocations outside a TMemoryBound are not bounded.
cmsContext Context();

// Bounds the context's allocations on this thread while it lives, for a profile of
// profileBytes; a refused allocation makes the library fail the call, as when memory runs out.
class TMemoryBound {
 public:
  explicit TMemoryBound(size_t profileBytes) noexcept;
  ~TMemoryBound();
  TMemoryBound(const TMemoryBound&) = delete;
  TMemoryBound& operator=(const TMemoryBound&) = delete;

 private:
  uint64_t savedSingle_;
  uint64_t savedTotal_;
};

}  // namespace quorvex::lcms

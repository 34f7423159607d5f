// The guard at the exported C boundary: a failed allocation inside comes back as the function's
// own out-of-memory result code instead of crossing into a C caller.
#pragma once

#include <new>

namespace platform_detail {

// Result is the function's result type (HRESULT, LSTATUS), kOutOfMemory the code a failed
// allocation becomes. A file defines its guard once, e.g.
//   constexpr BoundaryGuard<HRESULT, E_OUTOFMEMORY> Guarded;
// and every exported function returns Guarded([&] { ... }).
template <typename Result, Result kOutOfMemory>
struct BoundaryGuard {
  template <typename Body>
  Result operator()(Body&& body) const {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
  }
};

}  // namespace platform_detail

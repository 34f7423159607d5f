// The memory all requests' decodes may hold at once. A decode reserves its peak from the header
// before it allocates; what does not fit waits for others to finish, and is refused when the
// wait runs out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorvex::webhost {

class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t limit) : limit_(limit) {}

  enum class Grant { Granted, Busy, TooLarge };
  // Takes bytes once they fit, waiting until `until` at most: Busy when the wait ran out,
  // TooLarge at once when they are more than the whole budget.
  Grant Reserve(uint64_t bytes, std::chrono::steady_clock::time_point until);
  void Release(uint64_t bytes);
  uint64_t held() const;
  uint64_t limit() const { return limit_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  uint64_t limit_;
  uint64_t held_ = 0;
};

}  // namespace quorvex::webhost

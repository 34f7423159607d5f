#include "webhost/memory_budget.h"

namespace quorvex::webhost {

MemoryBudget::Grant MemoryBudget::Reserve(uint64_t bytes,
                                          std::chrono::steady_clock::time_point until) {
  if (bytes > limit_) return Grant::TooLarge;
  std::unique_lock<std::mutex> lock(mutex_);
  if (!freed_.wait_until(lock, until, [&] { return held_ + bytes <= limit_; })) return Grant::Busy;
  held_ += bytes;
  return Grant::Granted;
}

void MemoryBudget::Release(uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ -= bytes;
  }
  freed_.notify_all();
}

uint64_t MemoryBudget::held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

}  // namespace quorvex::webhost

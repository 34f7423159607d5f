#include "webhost/worker_pool.h"

#include "platform/winapi.h"

namespace quorvex::webhost {

WorkerPool::WorkerPool(unsigned workers, size_t queueLimit) : queueLimit_(queueLimit) {
  busySince_.assign(workers, std::chrono::steady_clock::time_point::max());
  threads_.reserve(workers);
  for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this, i] { Work(i); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool WorkerPool::TrySubmit(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A job waiting for a worker that is about to take it does not count against the queue.
    if (stopping_ || queue_.size() >= queueLimit_ + idle_) return false;
    queue_.push_back(std::move(job));
  }
  ready_.notify_one();
  return true;
}

bool WorkerPool::AnyStalled(std::chrono::steady_clock::duration limit) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto since : busySince_)
    if (since != std::chrono::steady_clock::time_point::max() && now - since > limit) return true;
  return false;
}

WorkerPool::Load WorkerPool::load() {
  std::lock_guard<std::mutex> lock(mutex_);
  Load load;
  load.queued = queue_.size();
  load.workers = static_cast<unsigned>(busySince_.size());
  for (const auto since : busySince_)
    if (since != std::chrono::steady_clock::time_point::max()) ++load.busy;
  return load;
}

void WorkerPool::Work(size_t index) {
  // Each page thread is its own multithreaded apartment, as on a web server.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    ++idle_;
    ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) break;
    std::function<void()> job = std::move(queue_.front());
    queue_.pop_front();
    busySince_[index] = std::chrono::steady_clock::now();
    lock.unlock();
    job();
    lock.lock();
    busySince_[index] = std::chrono::steady_clock::time_point::max();
  }
  lock.unlock();
  CoUninitialize();
}

}  // namespace quorvex::webhost

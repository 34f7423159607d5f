#include "webhost/worker_pool.h"

#include "platform/winapi.h"

namespace quorvex::webhost {

WorkerPool::WorkerPool(unsigned workers, size_t queueLimit) : queueLimit_(queueLimit) {
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
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

void WorkerPool::Work() {
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
    lock.unlock();
    job();
    lock.lock();
  }
  lock.unlock();
  CoUninitialize();
}

}  // namespace quorvex::webhost

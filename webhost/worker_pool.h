// The threads that run pages, fed from a bounded queue: when every worker is busy and the queue
// is full, a new job is refused rather than left to wait without end.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvex::webhost {

class WorkerPool {
 public:
  WorkerPool(unsigned workers, size_t queueLimit);
  // Runs the jobs already accepted, then joins the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False when the job could not be accepted: all workers busy and the queue full.
  bool TrySubmit(std::function<void()> job);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  size_t queueLimit_;
  unsigned idle_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quorvex::webhost

// The threads that run pages, fed from a bounded queue: when every worker is busy and the queue
// is full, a new job is refused rather than left to wait without end.
#pragma once

#include <chrono>
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
  // Whether a worker has been on one job for longer than limit: a job that stopped making
  // progress, since every job is cancelled at its deadline.
  bool AnyStalled(std::chrono::steady_clock::duration limit);

  struct Load {
    size_t queued = 0;  // jobs no worker has taken yet
    unsigned busy = 0;  // workers on a job
    unsigned workers = 0;
  };
  Load load();

 private:
  void Work(size_t index);

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  size_t queueLimit_;
  unsigned idle_ = 0;
  bool stopping_ = false;
  // When each worker took its job; max() while it waits.
  std::vector<std::chrono::steady_clock::time_point> busySince_;
  std::vector<std::thread> threads_;
};

}  // namespace quorvex::webhost

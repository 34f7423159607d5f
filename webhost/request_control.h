// What the host offers the object running one request (comserver/host_control_interface.h):
// the request's deadline, the client's connection to watch for its leaving, and the host's
// memory budget. It lives on the stack of the page that runs the request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "comserver/host_control_interface.h"
#include "webhost/memory_budget.h"

namespace quorvex::webhost {

class RequestControl final : public IQvHostControl, public IQvHostMeter {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Stop { None, Deadline, ClientGone };

  // connection is the client's socket, -1 when there is none to watch.
  RequestControl(Clock::time_point deadline, int connection, MemoryBudget& budget)
      : deadline_(deadline), connection_(connection), budget_(budget) {}
  // Gives back what the request reserved.
  ~RequestControl();
  RequestControl(const RequestControl&) = delete;
  RequestControl& operator=(const RequestControl&) = delete;

  // Why the work was stopped, if it was.
  Stop stopped() const noexcept { return stop_; }
  // Whether a reservation was refused for want of memory that others hold now.
  bool memoryBusy() const noexcept { return busy_; }
  // The pixels the request's decodes made.
  uint64_t decodedPixels() const noexcept { return decoded_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  // Counting only keeps callers honest; the page owns the object.
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE Cancelled() override;
  HRESULT STDMETHODCALLTYPE Reserve(ULONGLONG bytes) override;
  HRESULT STDMETHODCALLTYPE Decoded(ULONGLONG pixels) override;

 private:
  Clock::time_point deadline_;
  int connection_;
  MemoryBudget& budget_;
  std::atomic<Stop> stop_{Stop::None};
  Clock::time_point lastLook_{};
  uint64_t reserved_ = 0;
  bool busy_ = false;
  uint64_t decoded_ = 0;
  std::atomic<ULONG> references_{1};
};

}  // namespace quorvex::webhost

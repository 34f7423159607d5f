#include "webhost/request_control.h"

#include <poll.h>

#include <algorithm>

namespace quorvex::webhost {

namespace {

// How often the client's socket is looked at: often enough to stop within a tenth of a second
// of its leaving, seldom enough to cost nothing beside the work.
constexpr auto kLookInterval = std::chrono::milliseconds(10);
// How long a decode waits for memory that others hold before it is refused.
constexpr auto kMemoryWait = std::chrono::seconds(2);

// Whether the peer closed its side or the connection broke. A suspended connection is not read
// by the server meanwhile, so only the kernel's view of it is asked.
bool ClientGone(int connection) {
  pollfd watch{connection, POLLRDHUP, 0};
  return poll(&watch, 1, 0) > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace

RequestControl::~RequestControl() {
  if (reserved_ != 0) budget_.Release(reserved_);
}

HRESULT RequestControl::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IQvHostControl)) {
    *object = static_cast<IQvHostControl*>(this);
    AddRef();
    return S_OK;
  }
  if (IsEqualIID(iid, IID_IQvHostMeter)) {
    *object = static_cast<IQvHostMeter*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT RequestControl::Cancelled() {
  if (stop_ != Stop::None) return S_OK;
  const Clock::time_point now = Clock::now();
  if (now >= deadline_) {
    stop_ = Stop::Deadline;
    return S_OK;
  }
  if (connection_ >= 0 && now - lastLook_ >= kLookInterval) {
    lastLook_ = now;
    if (ClientGone(connection_)) {
      stop_ = Stop::ClientGone;
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT RequestControl::Decoded(ULONGLONG pixels) {
  decoded_ += pixels;
  return S_OK;
}

HRESULT RequestControl::Reserve(ULONGLONG bytes) {
  switch (budget_.Reserve(bytes, std::min(deadline_, Clock::now() + kMemoryWait))) {
    case MemoryBudget::Grant::Granted:
      break;
    case MemoryBudget::Grant::Busy:
      busy_ = true;
      return E_OUTOFMEMORY;
    case MemoryBudget::Grant::TooLarge:
      // Never to be had: the object fails as for any picture beyond its limits.
      return E_OUTOFMEMORY;
  }
  reserved_ += bytes;
  return S_OK;
}

}  // namespace quorvex::webhost

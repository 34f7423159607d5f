// What the host running the current call lets long work ask of it: whether the result is still
// wanted (the client may have gone, the request's deadline passed), and whether the memory a
// decode is about to take may be had. A host installs its control on the thread that makes the
// call; without one nothing is ever cancelled and every reservation is granted.
#pragma once

#include <cstdint>

#include "imaging/exception.h"

namespace quorvex {

// The work was stopped because its host no longer wants the result.
class ECancelled : public Exception {
 public:
  ECancelled() : Exception("The operation was cancelled by its host.") {}
};

class THostControl {
 public:
  // True once the work should stop. Called every few rows, so it must be cheap.
  virtual bool Cancelled() noexcept = 0;
  // Asks for bytes about to be allocated for the call; false when the host cannot give them.
  // Reservations last until the host's request ends.
  virtual bool Reserve(uint64_t bytes) noexcept = 0;
  // Told the pixels a decode is about to make, for a host that counts its work.
  virtual void Decoded(uint64_t /*pixels*/) noexcept {}

 protected:
  ~THostControl() = default;
};

// Installs a control for the calling thread while it lives; the previous one comes back after.
class THostControlScope {
 public:
  explicit THostControlScope(THostControl* control) noexcept;
  ~THostControlScope();
  THostControlScope(const THostControlScope&) = delete;
  THostControlScope& operator=(const THostControlScope&) = delete;

 private:
  THostControl* previous_;
};

// The calling thread's control, or null.
THostControl* CurrentHostControl() noexcept;

// Raises ECancelled when the host has stopped wanting the result.
inline void CheckCancelled() {
  if (THostControl* control = CurrentHostControl(); control != nullptr && control->Cancelled())
    throw ECancelled();
}

// Raises EOutOfMemory when the host cannot give the bytes.
void ReserveMemory(uint64_t bytes);

// Tells the host, if there is one, the pixels a decode is about to make.
void NoteDecoded(uint64_t pixels) noexcept;

}  // namespace quorvex

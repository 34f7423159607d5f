#include "imaging/host_control.h"

#include "imaging/errors.h"

namespace quorvex {

namespace {

thread_local THostControl* current = nullptr;

}  // namespace

THostControlScope::THostControlScope(THostControl* control) noexcept : previous_(current) {
  current = control;
}

THostControlScope::~THostControlScope() {
  current = previous_;
}

THostControl* CurrentHostControl() noexcept {
  return current;
}

void ReserveMemory(uint64_t bytes) {
  if (THostControl* control = current; control != nullptr && !control->Reserve(bytes))
    throw EOutOfMemory();
}

void NoteDecoded(uint64_t pixels) noexcept {
  if (THostControl* control = current; control != nullptr) control->Decoded(pixels);
}

}  // namespace quorvex

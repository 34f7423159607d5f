// An owning interface pointer: one reference, released on destruction.
#pragma once

#include <utility>

#include "platform/winapi.h"

namespace quorvex {

template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit TComPtr(T* owned) noexcept : p_(owned) {}
  TComPtr(const TComPtr& other) noexcept : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~TComPtr() {
    if (p_ != nullptr) p_->Release();
  }

  // Shares a pointer the caller does not own: adds a reference of its own.
  static TComPtr Share(T* borrowed) noexcept {
    if (borrowed != nullptr) borrowed->AddRef();
    return TComPtr(borrowed);
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() noexcept {
    *this = TComPtr();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// A BSTR owned for the length of a scope.
class TBstr {
 public:
  TBstr() = default;
  explicit TBstr(BSTR owned) noexcept : value_(owned) {}
  ~TBstr() { SysFreeString(value_); }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  BSTR get() const noexcept { return value_; }
  BSTR* Put() noexcept {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }

 private:
  BSTR value_ = nullptr;
};

}  // namespace quorvex

// IUnknown for the runtime's own heap objects that carry two interfaces: the first also answers
// IUnknown. Objects start with one reference, held by whoever made them.
#pragma once

#include <atomic>

#include "platform/winapi.h"

namespace platform_detail {

template <class First, const IID& kFirst, class Second, const IID& kSecond>
class TwoInterfaceObject : public First, public Second {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == kFirst) {
      *ppv = static_cast<First*>(this);
    } else if (riid == kSecond) {
      *ppv = static_cast<Second*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  TwoInterfaceObject() = default;
  virtual ~TwoInterfaceObject() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace platform_detail

// The automation object bases: reference counting and aggregation (TComObject), class
// information (TTypedComObject), late-bound dispatch (TAutoObject) and the web server's
// intrinsic objects (TASPMTSObject). Each interface an object answers to is a small member
// object whose IUnknown methods go to the object's controlling unknown.
#pragma once

#include <atomic>
#include <string>

#include "comserver/host_control_interface.h"
#include "imaging/host_control.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"

namespace quorvex {

class TComObjectFactory;
class TAutoObjectFactory;

// An interface implementation inside an object of class Owner.
template <class Interface, class Owner>
class TInterfaceEntry : public Interface {
 public:
  explicit TInterfaceEntry(Owner& owner) noexcept : owner_(owner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return owner_.Controller()->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_.Controller()->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_.Controller()->Release(); }

 protected:
  Owner& owner_;
};

class TComObject {
 public:
  // factory is null for an object used directly from C++ (it then has no type information and
  // is not counted by the server); outer is the aggregating object, if any.
  explicit TComObject(TComObjectFactory* factory = nullptr, IUnknown* outer = nullptr);
  virtual ~TComObject();
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // The unknown that counts references: the outer object's when aggregated.
  IUnknown* Controller() noexcept { return outer_ != nullptr ? outer_ : &inner_; }
  // The object's own, non-delegating unknown.
  IUnknown* InnerUnknown() noexcept { return &inner_; }
  HRESULT ObjQueryInterface(REFIID iid, void** object) noexcept;
  ULONG ObjAddRef() noexcept;
  ULONG ObjRelease() noexcept;
  LONG RefCount() const noexcept { return refCount_.load(); }
  TComObjectFactory* Factory() const noexcept { return factory_; }

  // Runs a member body; a raised exception becomes an error result with error information.
  template <class Body>
  HRESULT SafeCall(Body&& body) noexcept {
    try {
      body();
      return S_OK;
    } catch (...) {
      return SafeCallException();
    }
  }
  HRESULT SafeCallException() noexcept;

 protected:
  // The interface pointer for iid without a reference added, or null. Each class adds its own.
  virtual void* GetInterface(REFIID iid) noexcept;

 private:
  class InnerUnknownEntry final : public IUnknown {
   public:
    explicit InnerUnknownEntry(TComObject& owner) noexcept : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
      return owner_.ObjQueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.ObjAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.ObjRelease(); }

   private:
    TComObject& owner_;
  };
  class SupportErrorInfoEntry final : public TInterfaceEntry<ISupportErrorInfo, TComObject> {
   public:
    using TInterfaceEntry::TInterfaceEntry;
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;
  };

  InnerUnknownEntry inner_{*this};
  SupportErrorInfoEntry supportErrorInfo_{*this};
  std::atomic<LONG> refCount_{0};
  TComObjectFactory* factory_;
  IUnknown* outer_;
};

class TTypedComObject : public TComObject {
 public:
  using TComObject::TComObject;

 protected:
  void* GetInterface(REFIID iid) noexcept override;

 private:
  class ProvideClassInfoEntry final : public TInterfaceEntry<IProvideClassInfo, TTypedComObject> {
   public:
    using TInterfaceEntry::TInterfaceEntry;
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** typeInfo) override;
  };
  ProvideClassInfoEntry provideClassInfo_{*this};
};

class TAutoObject : public TTypedComObject {
 public:
  using TTypedComObject::TTypedComObject;

  // IDispatch as the object answers it, from the type information of its dispatch interface.
  HRESULT DispGetTypeInfoCount(UINT* count) noexcept;
  HRESULT DispGetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) noexcept;
  HRESULT DispGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                            DISPID* ids) noexcept;
  HRESULT DispInvoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

 protected:
  void* GetInterface(REFIID iid) noexcept override;
  // Where the dispatch interface's function table lives in this object.
  virtual IDispatch* DispatchInterfaceEntry() noexcept = 0;

 private:
  ITypeInfo* DispatchTypeInfo() const noexcept;

  class DispatchEntry final : public TInterfaceEntry<IDispatch, TAutoObject> {
   public:
    using TInterfaceEntry::TInterfaceEntry;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
      return owner_.DispGetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
      return owner_.DispGetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
      return owner_.DispGetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override {
      return owner_.DispInvoke(id, iid, locale, flags, params, result, exception, argumentError);
    }
  };
  DispatchEntry dispatch_{*this};
};

// An automation object that can reach the web server's objects of the call it runs in.
class TASPMTSObject : public TAutoObject {
 public:
  using TAutoObject::TAutoObject;

 protected:
  // The response of the current web request, looked up afresh through the object context.
  // Raises when there is no context, no "Response" property or no response interface.
  TComPtr<IResponse> Response();
};

// The control the object context of the current call offers its long work, if it offers one
// (comserver/host_control_interface.h).
class TCallHostControl final : public THostControl {
 public:
  TCallHostControl() noexcept;
  // This control when the context offers one; null otherwise.
  THostControl* Offered() noexcept { return control_ ? this : nullptr; }
  bool Cancelled() noexcept override;
  bool Reserve(uint64_t bytes) noexcept override;
  void Decoded(uint64_t pixels) noexcept override;

 private:
  TComPtr<IQvHostControl> control_;
  TComPtr<IQvHostMeter> meter_;  // when the host counts the work
};

}  // namespace quorvex

// Class factories: the IClassFactory that creates one class's objects (TComObjectFactory), the
// class information read from the type library (TTypedComObjectFactory) and the dispatch
// interface found there (TAutoObjectFactory). A factory lives as long as the module; its
// reference count only feeds the server's factory count.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/winapi.h"

namespace quorvex {

class TComServer;
class TComObject;

enum class TClassInstancing { ciInternal, ciSingleInstance, ciMultiInstance };
enum class TThreadingModel { tmSingle, tmApartment, tmFree, tmBoth, tmNeutral };

class TComObjectFactory : public IClassFactory {
 public:
  // Makes a new object of the class, aggregated under outer when it is not null.
  using TObjectConstructor =
      std::function<std::unique_ptr<TComObject>(TComObjectFactory&, IUnknown*)>;

  TComObjectFactory(TComServer& server, TObjectConstructor construct, REFCLSID classId,
                    std::string className, std::string description, TClassInstancing instancing,
                    TThreadingModel threadingModel);
  virtual ~TComObjectFactory();
  TComObjectFactory(const TComObjectFactory&) = delete;
  TComObjectFactory& operator=(const TComObjectFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  TComServer& Server() const noexcept { return server_; }
  const CLSID& ClassID() const noexcept { return classId_; }
  const std::string& ClassName() const noexcept { return className_; }
  const std::string& Description() const noexcept { return description_; }
  TClassInstancing Instancing() const noexcept { return instancing_; }
  TThreadingModel ThreadingModel() const noexcept { return threadingModel_; }
  // Server name, a full stop and the class name: "Quorvex.Resize".
  std::string ProgID() const;
  virtual const IID& ErrorIID() const noexcept;
  virtual ITypeInfo* ClassInfo() const noexcept { return nullptr; }
  virtual ITypeInfo* DispTypeInfo() const noexcept { return nullptr; }

  // Writes (or deletes) this class's registry entries.
  virtual void UpdateRegistry(bool doRegister);

  // Construction failures are never shown in a message box: a server process has no user.
  bool ShowErrors = false;
  TComObjectFactory* Next = nullptr;

 protected:
  void SetNames(std::string className, std::string description);

 private:
  TComServer& server_;
  TObjectConstructor construct_;
  CLSID classId_;
  std::string className_;
  std::string description_;
  TClassInstancing instancing_;
  TThreadingModel threadingModel_;
};

class TTypedComObjectFactory : public TComObjectFactory {
 public:
  // Reads the class's type information, name and description from the server's type library.
  TTypedComObjectFactory(TComServer& server, TObjectConstructor construct, REFCLSID classId,
                         const std::string& classTypeName, TClassInstancing instancing,
                         TThreadingModel threadingModel);
  ITypeInfo* ClassInfo() const noexcept override { return classInfo_.get(); }
  // Adds the class's version and type library to the entries.
  void UpdateRegistry(bool doRegister) override;

 private:
  TComPtr<ITypeInfo> classInfo_;
};

class TAutoObjectFactory : public TTypedComObjectFactory {
 public:
  // implemented: the interfaces the class's objects carry, which must include the class's
  // default dispatch interface. Error information names the first of them: the class's
  // original interface, which its clients have always seen there, even after a newer one
  // extending it became the default.
  TAutoObjectFactory(TComServer& server, TObjectConstructor construct, REFCLSID classId,
                     const std::string& classTypeName, const std::vector<IID>& implemented,
                     TClassInstancing instancing, TThreadingModel threadingModel);
  ITypeInfo* DispTypeInfo() const noexcept override { return dispTypeInfo_.get(); }
  const IID& ErrorIID() const noexcept override { return errorIID_; }

 private:
  TComPtr<ITypeInfo> dispTypeInfo_;
  IID dispIntfIID_{};
  IID errorIID_{};
};

}  // namespace quorvex

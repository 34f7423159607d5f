// The object context interfaces of the component transaction runtime, for the Winelib build.
// Wine's own comsvcs.h declares neither IObjectContext nor IGetContextProperties, and it does not
// compile as C++ (parameters named typeid and requires); this header stands in for it, ahead of
// Wine's in the include path. Layouts as in the Windows SDK.
#pragma once

#include <oaidl.h>
#include <objbase.h>

#ifndef __cplusplus
#error "The Winelib build declares the object context for C++ only."
#endif

extern "C" const IID IID_IObjectContext;
extern "C" const IID IID_IGetContextProperties;

struct IEnumNames;

struct IObjectContext : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(REFCLSID rclsid, REFIID riid, LPVOID* ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComplete() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAbort() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableCommit() = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableCommit() = 0;
  virtual BOOL STDMETHODCALLTYPE IsInTransaction() = 0;
  virtual BOOL STDMETHODCALLTYPE IsSecurityEnabled() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsCallerInRole(BSTR bstrRole, BOOL* pfIsInRole) = 0;
};

struct IGetContextProperties : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Count(LONG* plCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(BSTR objName, VARIANT* pVar) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumNames(IEnumNames** ppenum) = 0;
};

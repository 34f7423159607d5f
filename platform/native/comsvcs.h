// The object context of the component transaction runtime: IObjectContext and the named
// properties behind IGetContextProperties (the web server's intrinsic objects: "Response", ...).
#pragma once

#include "platform/native/oaidl.h"

#ifdef __cplusplus
struct IObjectContext;
struct IGetContextProperties;
struct IEnumNames;
#else
typedef struct IObjectContext IObjectContext;
typedef struct IGetContextProperties IGetContextProperties;
typedef struct IEnumNames IEnumNames;
#endif

QV_BEGIN_C
extern const IID IID_IObjectContext;
extern const IID IID_IGetContextProperties;
QV_END_C

#ifdef __cplusplus
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
#else
typedef struct IObjectContextVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IObjectContext* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IObjectContext* This);
  ULONG(STDMETHODCALLTYPE* Release)(IObjectContext* This);
  HRESULT(STDMETHODCALLTYPE* CreateInstance)
  (IObjectContext* This, REFCLSID rclsid, REFIID riid, LPVOID* ppv);
  HRESULT(STDMETHODCALLTYPE* SetComplete)(IObjectContext* This);
  HRESULT(STDMETHODCALLTYPE* SetAbort)(IObjectContext* This);
  HRESULT(STDMETHODCALLTYPE* EnableCommit)(IObjectContext* This);
  HRESULT(STDMETHODCALLTYPE* DisableCommit)(IObjectContext* This);
  BOOL(STDMETHODCALLTYPE* IsInTransaction)(IObjectContext* This);
  BOOL(STDMETHODCALLTYPE* IsSecurityEnabled)(IObjectContext* This);
  HRESULT(STDMETHODCALLTYPE* IsCallerInRole)(IObjectContext* This, BSTR bstrRole, BOOL* pfIsInRole);
} IObjectContextVtbl;
struct IObjectContext {
  const IObjectContextVtbl* lpVtbl;
};
#endif

#ifdef __cplusplus
struct IGetContextProperties : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Count(long* plCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(BSTR objName, VARIANT* pVar) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumNames(IEnumNames** ppenum) = 0;
};
#else
typedef struct IGetContextPropertiesVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)
  (IGetContextProperties* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IGetContextProperties* This);
  ULONG(STDMETHODCALLTYPE* Release)(IGetContextProperties* This);
  HRESULT(STDMETHODCALLTYPE* Count)(IGetContextProperties* This, long* plCount);
  HRESULT(STDMETHODCALLTYPE* GetProperty)(IGetContextProperties* This, BSTR objName, VARIANT* pVar);
  HRESULT(STDMETHODCALLTYPE* EnumNames)(IGetContextProperties* This, IEnumNames** ppenum);
} IGetContextPropertiesVtbl;
struct IGetContextProperties {
  const IGetContextPropertiesVtbl* lpVtbl;
};
#endif

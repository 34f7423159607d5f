// IUnknown: in C++ an abstract class whose vtable is the COM function table, in C the same
// table spelled out, so that C clients can call through lpVtbl exactly as on Windows.
#pragma once

#include "platform/native/wintypes.h"

QV_BEGIN_C
extern const IID IID_IUnknown;
QV_END_C

#ifdef __cplusplus
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
#else
typedef struct IUnknownVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IUnknown* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IUnknown* This);
  ULONG(STDMETHODCALLTYPE* Release)(IUnknown* This);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};
#endif
typedef IUnknown* LPUNKNOWN;

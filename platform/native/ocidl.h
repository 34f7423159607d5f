// IProvideClassInfo: an object's way of handing out the type information of its class.
#pragma once

#include "platform/native/oaidl.h"

#ifndef __cplusplus
typedef struct IProvideClassInfo IProvideClassInfo;
#else
struct IProvideClassInfo;
#endif

QV_BEGIN_C
extern const IID IID_IProvideClassInfo;
QV_END_C

#ifdef __cplusplus
struct IProvideClassInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) = 0;
};
#else
typedef struct IProvideClassInfoVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)
  (IProvideClassInfo* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IProvideClassInfo* This);
  ULONG(STDMETHODCALLTYPE* Release)(IProvideClassInfo* This);
  HRESULT(STDMETHODCALLTYPE* GetClassInfo)(IProvideClassInfo* This, ITypeInfo** ppTI);
} IProvideClassInfoVtbl;
struct IProvideClassInfo {
  const IProvideClassInfoVtbl* lpVtbl;
};
#endif
typedef IProvideClassInfo* LPPROVIDECLASSINFO;

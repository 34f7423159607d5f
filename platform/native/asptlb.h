// The web server's response object, IResponse, with its function table in the order of the
// server's type library (positions 7 to 33 after IUnknown and IDispatch).
#pragma once

#ifndef __IResponse_INTERFACE_DEFINED__
#define __IResponse_INTERFACE_DEFINED__

#if !defined(_WIN32) && !defined(QUORVEX_WINDOWS_HEADERS)
#include "platform/native/oaidl.h"
#endif

#ifdef __cplusplus
struct IResponse;
struct IRequestDictionary;
#else
typedef struct IResponse IResponse;
typedef struct IRequestDictionary IRequestDictionary;
#endif

#if defined(QV_BEGIN_C)
QV_BEGIN_C
#elif defined(__cplusplus)
extern "C" {
#endif
extern const IID IID_IResponse;
#if defined(QV_END_C)
QV_END_C
#elif defined(__cplusplus)
}
#endif

#ifdef __cplusplus
struct IResponse : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL* fIsBuffering) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL fIsBuffering) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ContentType(BSTR* pbstrContentTypeRet) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ContentType(BSTR bstrContentType) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Expires(VARIANT* pvarExpiresMinutesRet) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Expires(long lExpiresMinutes) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT* pvarExpiresRet) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE dtExpires) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary** ppCookies) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Status(BSTR* pbstrStatusRet) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Status(BSTR bstrStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(BSTR bstrHeaderValue, BSTR bstrHeaderName) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddHeader(BSTR bstrHeaderName, BSTR bstrHeaderValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE AppendToLog(BSTR bstrLogEntry) = 0;
  virtual HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT varInput) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  virtual HRESULT STDMETHODCALLTYPE End() = 0;
  virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
  virtual HRESULT STDMETHODCALLTYPE Redirect(BSTR bstrURL) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(VARIANT varText) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBlock(short iBlockNumber) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL* pfIsClientConnected) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CharSet(BSTR* pbstrCharSetRet) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CharSet(BSTR bstrCharSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE Pics(BSTR bstrHeaderValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR* pbstrCacheControl) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR bstrCacheControl) = 0;
};
#else
typedef struct IResponseVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IResponse* This, REFIID riid, void** ppvObject);
  ULONG(STDMETHODCALLTYPE* AddRef)(IResponse* This);
  ULONG(STDMETHODCALLTYPE* Release)(IResponse* This);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfoCount)(IResponse* This, UINT* pctinfo);
  HRESULT(STDMETHODCALLTYPE* GetTypeInfo)
  (IResponse* This, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
  HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)
  (IResponse* This, REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
  HRESULT(STDMETHODCALLTYPE* Invoke)
  (IResponse* This, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
  HRESULT(STDMETHODCALLTYPE* get_Buffer)(IResponse* This, VARIANT_BOOL* fIsBuffering);
  HRESULT(STDMETHODCALLTYPE* put_Buffer)(IResponse* This, VARIANT_BOOL fIsBuffering);
  HRESULT(STDMETHODCALLTYPE* get_ContentType)(IResponse* This, BSTR* pbstrContentTypeRet);
  HRESULT(STDMETHODCALLTYPE* put_ContentType)(IResponse* This, BSTR bstrContentType);
  HRESULT(STDMETHODCALLTYPE* get_Expires)(IResponse* This, VARIANT* pvarExpiresMinutesRet);
  HRESULT(STDMETHODCALLTYPE* put_Expires)(IResponse* This, long lExpiresMinutes);
  HRESULT(STDMETHODCALLTYPE* get_ExpiresAbsolute)(IResponse* This, VARIANT* pvarExpiresRet);
  HRESULT(STDMETHODCALLTYPE* put_ExpiresAbsolute)(IResponse* This, DATE dtExpires);
  HRESULT(STDMETHODCALLTYPE* get_Cookies)(IResponse* This, IRequestDictionary** ppCookies);
  HRESULT(STDMETHODCALLTYPE* get_Status)(IResponse* This, BSTR* pbstrStatusRet);
  HRESULT(STDMETHODCALLTYPE* put_Status)(IResponse* This, BSTR bstrStatus);
  HRESULT(STDMETHODCALLTYPE* Add)(IResponse* This, BSTR bstrHeaderValue, BSTR bstrHeaderName);
  HRESULT(STDMETHODCALLTYPE* AddHeader)(IResponse* This, BSTR bstrHeaderName, BSTR bstrHeaderValue);
  HRESULT(STDMETHODCALLTYPE* AppendToLog)(IResponse* This, BSTR bstrLogEntry);
  HRESULT(STDMETHODCALLTYPE* BinaryWrite)(IResponse* This, VARIANT varInput);
  HRESULT(STDMETHODCALLTYPE* Clear)(IResponse* This);
  HRESULT(STDMETHODCALLTYPE* End)(IResponse* This);
  HRESULT(STDMETHODCALLTYPE* Flush)(IResponse* This);
  HRESULT(STDMETHODCALLTYPE* Redirect)(IResponse* This, BSTR bstrURL);
  HRESULT(STDMETHODCALLTYPE* Write)(IResponse* This, VARIANT varText);
  HRESULT(STDMETHODCALLTYPE* WriteBlock)(IResponse* This, short iBlockNumber);
  HRESULT(STDMETHODCALLTYPE* IsClientConnected)(IResponse* This, VARIANT_BOOL* pfIsClientConnected);
  HRESULT(STDMETHODCALLTYPE* get_CharSet)(IResponse* This, BSTR* pbstrCharSetRet);
  HRESULT(STDMETHODCALLTYPE* put_CharSet)(IResponse* This, BSTR bstrCharSet);
  HRESULT(STDMETHODCALLTYPE* Pics)(IResponse* This, BSTR bstrHeaderValue);
  HRESULT(STDMETHODCALLTYPE* get_CacheControl)(IResponse* This, BSTR* pbstrCacheControl);
  HRESULT(STDMETHODCALLTYPE* put_CacheControl)(IResponse* This, BSTR bstrCacheControl);
} IResponseVtbl;
struct IResponse {
  const IResponseVtbl* lpVtbl;
};
#endif

#endif

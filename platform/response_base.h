// A web server's response object for a host to build on: every IResponse member answers
// E_NOTIMPL, so a host overrides only what it serves (a component streaming an image calls
// Expires, Clear, ContentType and BinaryWrite) and IUnknown, whose lifetime rules are its own.
#pragma once

#include "platform/winapi.h"

namespace quorvex {

class ResponseBase : public IResponse {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Expires(long) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Status(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE End() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Redirect(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Write(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE WriteBlock(short) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CharSet(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CharSet(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Pics(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR) override { return E_NOTIMPL; }

 protected:
  ResponseBase() = default;
  ~ResponseBase() = default;
};

}  // namespace quorvex

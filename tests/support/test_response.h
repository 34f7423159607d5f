// A web response for tests: records the calls made on it and can fail one of them.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace quorvex::testing {

class TestResponse final : public IResponse {
 public:
  // The calls in order: "Expires=0", "Clear", "ContentType=Image/jpeg", "BinaryWrite".
  std::vector<std::string> calls;
  std::vector<uint8_t> body;  // the bytes of the last BinaryWrite
  LONG bodyLowerBound = 0;
  // Makes the call whose name starts with failName fail with failCode and this description
  // (with no error information when the description is empty).
  std::string failName;
  HRESULT failCode = S_OK;
  std::string failDescription;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  LONG References() const { return references_; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
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
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR contentType) override;
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override;
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Status(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override;
  HRESULT STDMETHODCALLTYPE Clear() override;
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

 private:
  // Records the call; returns the failure to report, if this is the call to fail.
  HRESULT Record(const std::string& call);
  std::atomic<LONG> references_{1};
};

}  // namespace quorvex::testing

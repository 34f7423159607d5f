// A web response for tests: records the calls made on it and can fail one of them.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/response_base.h"
#include "platform/winapi.h"

namespace quorvex::testing {

class TestResponse final : public ResponseBase {
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

  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR contentType) override;
  HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override;
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override;
  HRESULT STDMETHODCALLTYPE Clear() override;

 private:
  // Records the call; returns the failure to report, if this is the call to fail.
  HRESULT Record(const std::string& call);
  std::atomic<LONG> references_{1};
};

}  // namespace quorvex::testing

// The object context a host installs: CoGetObjectContext, the "Response" property and calls
// on the web server's response in the order a component makes them.
#include "platform/object_context.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/winapi.h"

namespace {

// A web server's response that records what it is told.
class RecordingResponse final : public IResponse {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IResponse) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Buffer(VARIANT_BOOL*) override { return Log("get_Buffer"); }
  HRESULT STDMETHODCALLTYPE put_Buffer(VARIANT_BOOL) override { return Log("put_Buffer"); }
  HRESULT STDMETHODCALLTYPE get_ContentType(BSTR*) override { return Log("get_ContentType"); }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR type) override {
    contentType = std::u16string(type, SysStringLen(type));
    return Log("put_ContentType");
  }
  HRESULT STDMETHODCALLTYPE get_Expires(VARIANT*) override { return Log("get_Expires"); }
  HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override {
    expires = minutes;
    return Log("put_Expires");
  }
  HRESULT STDMETHODCALLTYPE get_ExpiresAbsolute(VARIANT*) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE put_ExpiresAbsolute(DATE) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE get_Cookies(IRequestDictionary**) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR*) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE put_Status(BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE Add(BSTR, BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE AddHeader(BSTR, BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE AppendToLog(BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override {
    if (V_VT(&input) == (VT_ARRAY | VT_UI1)) bytes = V_ARRAY(&input)->rgsabound[0].cElements;
    return Log("BinaryWrite");
  }
  HRESULT STDMETHODCALLTYPE Clear() override { return Log("Clear"); }
  HRESULT STDMETHODCALLTYPE End() override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE Flush() override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE Redirect(BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE Write(VARIANT) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE WriteBlock(short) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE IsClientConnected(VARIANT_BOOL*) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE get_CharSet(BSTR*) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE put_CharSet(BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE Pics(BSTR) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE get_CacheControl(BSTR*) override { return Log("x"); }
  HRESULT STDMETHODCALLTYPE put_CacheControl(BSTR) override { return Log("x"); }

  HRESULT Log(const char* call) {
    calls.push_back(call);
    return S_OK;
  }
  ULONG refs = 1;
  std::vector<std::string> calls;
  long expires = -1;
  std::u16string contentType;
  ULONG bytes = 0;
};

// What a component does to find the response of the current call.
IResponse* CurrentResponse() {
  IObjectContext* context = nullptr;
  CoGetObjectContext(IID_IObjectContext, reinterpret_cast<void**>(&context));
  if (context == nullptr) return nullptr;
  IGetContextProperties* properties = nullptr;
  HRESULT hr =
      context->QueryInterface(IID_IGetContextProperties, reinterpret_cast<void**>(&properties));
  context->Release();
  if (FAILED(hr)) return nullptr;
  BSTR name = SysAllocString(u"Response");
  VARIANT value;
  VariantInit(&value);
  hr = properties->GetProperty(name, &value);
  SysFreeString(name);
  properties->Release();
  IResponse* response = nullptr;
  if (SUCCEEDED(hr) && V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value) != nullptr)
    V_DISPATCH(&value)->QueryInterface(IID_IResponse, reinterpret_cast<void**>(&response));
  VariantClear(&value);
  return response;
}

TEST(ObjectContext, NoneOutsideAHostsCall) {
  IObjectContext* context = reinterpret_cast<IObjectContext*>(1);
  EXPECT_EQ(CoGetObjectContext(IID_IObjectContext, reinterpret_cast<void**>(&context)),
            E_NOINTERFACE);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(QvLeaveObjectContext(), E_UNEXPECTED);
}

TEST(ObjectContext, TheResponseOfTheCurrentCall) {
  RecordingResponse response;
  {
    quorvex::ObjectContextScope scope(&response);
    ASSERT_TRUE(scope.entered());
    IResponse* found = CurrentResponse();
    ASSERT_EQ(found, &response);
    BSTR type = SysAllocString(u"Image/jpeg");
    VARIANT data;
    VariantInit(&data);
    V_VT(&data) = VT_ARRAY | VT_UI1;
    V_ARRAY(&data) = SafeArrayCreateVector(VT_UI1, 1, 20);
    EXPECT_EQ(found->put_Expires(0), S_OK);
    EXPECT_EQ(found->Clear(), S_OK);
    EXPECT_EQ(found->put_ContentType(type), S_OK);
    EXPECT_EQ(found->BinaryWrite(data), S_OK);
    VariantClear(&data);
    SysFreeString(type);
    found->Release();
    EXPECT_EQ(response.calls,
              (std::vector<std::string>{"put_Expires", "Clear", "put_ContentType", "BinaryWrite"}));
    EXPECT_EQ(response.expires, 0);
    EXPECT_EQ(response.contentType, u"Image/jpeg");
    EXPECT_EQ(response.bytes, 20u);
    EXPECT_GT(response.refs, 1u) << "the context holds the response";
  }
  EXPECT_EQ(response.refs, 1u) << "and gives it back when the call ends";
  EXPECT_EQ(CurrentResponse(), nullptr);
}

TEST(ObjectContext, PropertiesCountAndUnknownNames) {
  RecordingResponse response;
  quorvex::ObjectContextScope scope(&response);
  IGetContextProperties* properties = nullptr;
  ASSERT_EQ(CoGetObjectContext(IID_IGetContextProperties, reinterpret_cast<void**>(&properties)),
            S_OK);
  long count = 0;
  EXPECT_EQ(properties->Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  BSTR name = SysAllocString(u"rEsPoNsE");
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(properties->GetProperty(name, &value), S_OK) << "names ignore case";
  VariantClear(&value);
  SysFreeString(name);
  name = SysAllocString(u"Request");
  EXPECT_EQ(properties->GetProperty(name, &value), E_INVALIDARG);
  EXPECT_EQ(V_VT(&value), VT_EMPTY);
  SysFreeString(name);
  IObjectContext* context = nullptr;
  ASSERT_EQ(properties->QueryInterface(IID_IObjectContext, reinterpret_cast<void**>(&context)),
            S_OK);
  EXPECT_FALSE(context->IsInTransaction());
  EXPECT_EQ(context->SetComplete(), S_OK);
  context->Release();
  properties->Release();
}

TEST(ObjectContext, ContextsNestAndBelongToTheirThread) {
  RecordingResponse outer, inner;
  quorvex::ObjectContextScope first(&outer);
  {
    quorvex::ObjectContextScope second(&inner);
    IResponse* found = CurrentResponse();
    EXPECT_EQ(found, &inner);
    if (found) found->Release();
    IResponse* seenElsewhere = reinterpret_cast<IResponse*>(1);
    std::thread other([&] { seenElsewhere = CurrentResponse(); });
    other.join();
    EXPECT_EQ(seenElsewhere, nullptr);
  }
  IResponse* found = CurrentResponse();
  EXPECT_EQ(found, &outer);
  if (found) found->Release();
  quorvex::ObjectContextScope empty(nullptr);
  EXPECT_EQ(CurrentResponse(), nullptr) << "a context without a response";
}

}  // namespace

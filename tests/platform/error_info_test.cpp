// Error information is per thread and is taken by GetErrorInfo; GUID text round trips.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/platform/ole_text.h"

namespace {

IErrorInfo* Publish(const OLECHAR* description) {
  ICreateErrorInfo* create = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetSource(const_cast<LPOLESTR>(OLESTR("Quorvex.Test")));
  create->SetHelpContext(7);
  IErrorInfo* info = nullptr;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  EXPECT_EQ(SetErrorInfo(0, info), S_OK);
  return info;
}

OleString Description(IErrorInfo* info) {
  BSTR text = nullptr;
  info->GetDescription(&text);
  OleString result = text ? OleString(text) : OLESTR("<null>");
  SysFreeString(text);
  return result;
}

TEST(ErrorInfo, GetTakesTheThreadsObject) {
  IErrorInfo* published = Publish(OLESTR("first"));
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, published);
  EXPECT_EQ(Description(got), OLESTR("first"));
  DWORD context = 0;
  got->GetHelpContext(&context);
  EXPECT_EQ(context, 7u);
  BSTR file = reinterpret_cast<BSTR>(1);
  got->GetHelpFile(&file);
  EXPECT_EQ(file, nullptr) << "an unset text reads back as a null string";
  got->Release();
  published->Release();
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE) << "the slot is empty after the read";
  EXPECT_EQ(got, nullptr);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
  Publish(OLESTR("main"))->Release();
  OleString seenByOther = OLESTR("unset");
  std::thread other([&] {
    IErrorInfo* got = nullptr;
    seenByOther = GetErrorInfo(0, &got) == S_FALSE ? OLESTR("none") : Description(got);
    if (got) got->Release();
    Publish(OLESTR("other"))->Release();  // left behind: released when the thread ends
  });
  other.join();
  EXPECT_EQ(seenByOther, OLESTR("none"));
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(Description(got), OLESTR("main"));
  got->Release();
}

TEST(ErrorInfo, SettingNullClearsAndReservedMustBeZero) {
  Publish(OLESTR("x"))->Release();
  EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
  IErrorInfo* got = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, GuidIsKept) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetGUID(IID_IDispatch);
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  GUID guid = GUID_NULL;
  info->GetGUID(&guid);
  EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));
  void* none = nullptr;
  EXPECT_EQ(info->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
  info->Release();
  create->Release();
}

TEST(GuidText, RoundTripsInRegistryForm) {
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(IID_IDispatch, text, 39), 39);
  EXPECT_EQ(OleString(text), OLESTR("{00020400-0000-0000-C000-000000000046}"));
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, text, 38), 0) << "too small a buffer";
  CLSID parsed;
  ASSERT_EQ(CLSIDFromString(OLESTR("{00020400-0000-0000-c000-000000000046}"), &parsed), S_OK);
  EXPECT_TRUE(IsEqualCLSID(parsed, IID_IDispatch));
  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(IID_IErrorInfo, &allocated), S_OK);
  EXPECT_EQ(OleString(allocated), OLESTR("{1CF2B120-547D-101B-8E65-08002B2BD119}"));
  CoTaskMemFree(allocated);
}

struct BadGuid {
  const OLECHAR* text;
};
class GuidParsing : public ::testing::TestWithParam<BadGuid> {};
TEST_P(GuidParsing, MalformedTextIsRefused) {
  IID iid;
  EXPECT_EQ(IIDFromString(GetParam().text, &iid), E_INVALIDARG);
  EXPECT_TRUE(IsEqualIID(iid, IID_NULL));
  CLSID clsid;
  EXPECT_EQ(CLSIDFromString(GetParam().text, &clsid), CO_E_CLASSSTRING);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, GuidParsing,
    ::testing::Values(BadGuid{OLESTR("{00020400-0000-0000-C000-00000000004}")},
                      BadGuid{OLESTR("{00020400-0000-0000-C000-0000000000461}")},
                      BadGuid{OLESTR("{00020400-0000-0000-C000+000000000046}")},
                      BadGuid{OLESTR("{0002040G-0000-0000-C000-000000000046}")},
                      BadGuid{OLESTR("00020400-0000-0000-C000-000000000046")},
                      BadGuid{OLESTR("{}")}));

TEST(Interlocked, CountsAndReturnsTheNewValue) {
  volatile LONG count = 0;
  EXPECT_EQ(InterlockedIncrement(&count), 1);
  EXPECT_EQ(InterlockedIncrement(&count), 2);
  EXPECT_EQ(InterlockedDecrement(&count), 1);
  EXPECT_EQ(InterlockedExchange(&count, 10), 1);
  EXPECT_EQ(InterlockedCompareExchange(&count, 5, 10), 10);
  EXPECT_EQ(count, 5);
}

}  // namespace

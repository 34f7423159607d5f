// Number text under a German C locale (decimal comma): the runtime keeps to en-US rules in
// variant conversion and in the interface-description reader whatever the host sets.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/winapi.h"

namespace {

constexpr const char* kGerman = "de_DE.UTF-8";

// Enters the German locale, compiling it into a scratch directory when the system lacks it.
// Returns an empty string on success, else why it could not be had.
std::string EnterGermanLocale() {
  if (std::setlocale(LC_ALL, kGerman) == nullptr) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "locales";
    std::filesystem::create_directories(dir);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / kGerman).string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return "localedef could not make de_DE.UTF-8";
    ::setenv("LOCPATH", dir.c_str(), 1);
    if (std::setlocale(LC_ALL, kGerman) == nullptr) return "de_DE.UTF-8 cannot be entered";
  }
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 1.5);
  return std::string(text) == "1,5" ? std::string() : "the locale does not write a decimal comma";
}

class GermanLocale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { unavailable_ = EnterGermanLocale(); }
  static void TearDownTestSuite() { std::setlocale(LC_ALL, "C"); }
  void SetUp() override {
    if (!unavailable_.empty()) GTEST_SKIP() << "no German locale: " << unavailable_;
  }
  static std::string unavailable_;
};
std::string GermanLocale::unavailable_;

std::u16string AsText(const VARIANT& in) {
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
  std::u16string text(V_BSTR(&out), SysStringLen(V_BSTR(&out)));
  VariantClear(&out);
  return text;
}

TEST_F(GermanLocale, RealsBecomeTextWithAPoint) {
  const struct {
    VARTYPE type;
    double value;
    const char16_t* text;
  } cases[] = {{VT_R8, 1.5, u"1.5"},         {VT_R8, -0.25, u"-0.25"},
               {VT_R8, 1.5e-5, u"0.000015"}, {VT_R8, 1.2345e-12, u"1.2345E-12"},
               {VT_R8, 1e20, u"1E+20"},      {VT_R4, 0.1, u"0.1"},
               {VT_CY, 2.5, u"2.5"}};
  for (const auto& c : cases) {
    VARIANT in;
    VariantInit(&in);
    V_VT(&in) = VT_R8;
    V_R8(&in) = c.value;
    VARIANT typed;
    VariantInit(&typed);
    ASSERT_EQ(VariantChangeType(&typed, &in, 0, c.type), S_OK);
    EXPECT_EQ(AsText(typed), c.text) << c.value;
  }
}

TEST_F(GermanLocale, TextWithAPointBecomesTheReal) {
  const struct {
    const char16_t* text;
    double value;
  } cases[] = {{u"1.5", 1.5},
               {u"1,234.5", 1234.5},
               {u"-0.125", -0.125},
               {u"2.5E+3", 2500.0},
               {u"1e-310", 1e-310}};
  for (const auto& c : cases) {
    VARIANT in;
    VariantInit(&in);
    V_VT(&in) = VT_BSTR;
    V_BSTR(&in) = SysAllocString(c.text);
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_R8), S_OK);
    EXPECT_EQ(V_R8(&out), c.value);
    VariantClear(&in);
  }
}

TEST_F(GermanLocale, DescriptionsReadRealDefaultValues) {
  const std::string path = ::testing::TempDir() + "real_default.idl";
  FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(
      "[uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a11)] library L { importlib(\"stdole2.tlb\");"
      " [uuid(5d7bb0a4-0d39-4a44-9a63-5d1f0c6e1a12), dual] interface I : IDispatch {"
      " [id(1)] HRESULT F([in, defaultvalue(1.5)] double x); }; };",
      file);
  std::fclose(file);
  const std::u16string wide(path.begin(), path.end());
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &lib), S_OK);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfo(0, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  const UINT functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  FUNCDESC* function = nullptr;
  for (UINT i = 0; i < functions && function == nullptr; ++i) {
    ASSERT_EQ(info->GetFuncDesc(i, &function), S_OK);
    if (function->memid != 1) {
      info->ReleaseFuncDesc(function);
      function = nullptr;
    }
  }
  ASSERT_NE(function, nullptr) << "F is member 1";
  const PARAMDESC& param = function->lprgelemdescParam[0].paramdesc;
  ASSERT_TRUE(param.wParamFlags & PARAMFLAG_FHASDEFAULT);
  const VARIANT& value = param.pparamdescex->varDefaultValue;
  EXPECT_EQ(V_VT(&value), VT_R8);
  EXPECT_EQ(V_R8(&value), 1.5);
  info->ReleaseFuncDesc(function);
  info->Release();
  lib->Release();
  std::remove(path.c_str());
}

}  // namespace

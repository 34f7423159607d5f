// The server's own work under faults: registration and unregistration, loading the type
// library, creating objects, and late-bound calls with every shape of argument. A failure gives
// an error result, leaves a registry that a fault-free retry completes exactly, and leaks nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"

namespace quorvex::faults {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class ServerSweep : public ::testing::TestWithParam<Kind> {
 protected:
  ScratchDirectory dir;
  std::string registry;
  HMODULE module = nullptr;

  void SetUp() override {
    registry = dir.File("registry");
    setenv("QUORVEX_REGISTRY", registry.c_str(), 1);
    Reload();
  }
  // A fresh copy of the module, whose start-up then runs under the faults too.
  void Reload() {
    if (module != nullptr) FreeLibrary(module);
    module = LoadLibraryW(Utf8ToOle(QUORVEX_MODULE_PATH).c_str());
    ASSERT_NE(module, nullptr);
  }
  void TearDown() override {
    if (module != nullptr) FreeLibrary(module);
  }
  HRESULT CallExport(const char* name) {
    return Export<HRESULT(STDAPICALLTYPE*)()>(module, name)();
  }
  std::vector<uint8_t> RegistryBytes() {
    return std::filesystem::exists(registry) ? ReadBytes(registry) : std::vector<uint8_t>{};
  }

  // One entry point moving the registry from one state to another: after a failure, only the
  // registry and its lock are in the directory, and a fault-free retry reaches the same end.
  // With startUp, every point loads a fresh module, so its start-up runs under the faults too.
  void SweepRegistry(const std::string& name, const char* entry, const char* before, bool startUp) {
    ASSERT_EQ(CallExport(before), S_OK);
    const bool existed = std::filesystem::exists(registry);
    const std::vector<uint8_t> start = RegistryBytes();
    ASSERT_EQ(CallExport(entry), S_OK);
    const std::vector<uint8_t> end = RegistryBytes();
    Sweep(GetParam(),
          {name,
           [&] {
             std::filesystem::remove(registry);
             if (existed) WriteBytes(registry, start);
             if (startUp) Reload();
           },
           [&] { return CallExport(entry); },
           [&](HRESULT result, bool) {
             std::set<std::string> files;
             for (const auto& item : std::filesystem::directory_iterator(dir.path()))
               files.insert(item.path().filename().string());
             files.erase("registry.lock");
             files.erase("registry");
             EXPECT_EQ(files, std::set<std::string>{}) << "nothing stray";
             if (result != S_OK) {
               EXPECT_LT(result, 0);
               EXPECT_EQ(CallExport(entry), S_OK) << "a retry completes the work";
             }
             const std::vector<uint8_t> now = RegistryBytes();
             EXPECT_EQ(std::string(now.begin(), now.end()), std::string(end.begin(), end.end()))
                 << "result " << std::hex << result;
           }});
  }
};

TEST_P(ServerSweep, Registration) {
  SweepRegistry("DllRegisterServer (with start-up)", "DllRegisterServer", "DllUnregisterServer",
                true);
}

TEST_P(ServerSweep, Unregistration) {
  // Start-up under faults is swept with registration; here the module has started.
  SweepRegistry("DllUnregisterServer", "DllUnregisterServer", "DllRegisterServer", false);
}

// One key added to a registered server's registry: a failure leaves the file as it was, a
// success adds the key and keeps every other, however far the reading of the file got.
TEST_P(ServerSweep, RegistryUpdate) {
  ASSERT_EQ(CallExport("DllRegisterServer"), S_OK);
  const std::vector<uint8_t> full = RegistryBytes();
  const std::basic_string<OLECHAR> name = Utf8ToOle("Quorvex.Sweep");
  const auto addKey = [&name] {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    RegCloseKey(key);
    return S_OK;
  };
  ASSERT_EQ(addKey(), S_OK);
  const std::vector<uint8_t> added = RegistryBytes();
  Sweep(GetParam(),
        {"RegCreateKeyExW over a full registry", [&] { WriteBytes(registry, full); }, addKey,
         [&](HRESULT result, bool) {
           EXPECT_TRUE(RegistryBytes() == (result == S_OK ? added : full))
               << "result " << std::hex << result;
         },
         S_OK, true});
}

TEST_P(ServerSweep, TypeLibraryLoading) {
  const std::basic_string<OLECHAR> path = Utf8ToOle(QUORVEX_MODULE_PATH);
  Sweep(GetParam(), {"LoadTypeLibEx + GetTypeInfoOfGuid", [] {},
                     [&] {
                       TComPtr<ITypeLib> library;
                       HRESULT result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
                       if (FAILED(result)) return result;
                       TComPtr<ITypeInfo> info;
                       result = library->GetTypeInfoOfGuid(IID_IResize2, info.Put());
                       if (FAILED(result)) return result;
                       TYPEATTR* attributes = nullptr;
                       result = info->GetTypeAttr(&attributes);
                       if (FAILED(result)) return result;
                       const bool dual = attributes->cFuncs > 0;
                       info->ReleaseTypeAttr(attributes);
                       return dual ? S_OK : E_FAIL;
                     },
                     [](HRESULT result, bool) {
                       if (result != S_OK) {
                         EXPECT_LT(result, 0);
                       }
                     }});
}

TEST_P(ServerSweep, ObjectCreation) {
  Sweep(GetParam(), {"Start-up, DllGetClassObject + CreateInstance", [&] { Reload(); },
                     [&] {
                       using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
                       TComPtr<IClassFactory> factory;
                       HRESULT result = Export<Proc>(module, "DllGetClassObject")(
                           CLSID_Resize, IID_IClassFactory, factory.PutVoid());
                       if (FAILED(result)) return result;
                       TComPtr<IResize> resize;
                       return factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid());
                     },
                     [&](HRESULT result, bool) {
                       if (result != S_OK) {
                         EXPECT_LT(result, 0);
                       }
                       EXPECT_EQ(CallExport("DllCanUnloadNow"), S_OK) << "no object left behind";
                     }});
}

// One late-bound call: a member, a flag and its arguments in the order the caller writes them.
struct Shape {
  const char* name;
  DISPID id;
  WORD flags;
  std::function<std::vector<VARIANT>(const std::string& photo)> arguments;
};

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}
VARIANT Text(const std::string& text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = Utf8ToNewBstr(text);
  return v;
}
VARIANT Real(double value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = value;
  return v;
}
// Kept alive for by-reference arguments of the current call.
VARIANT referenced;
LONG referencedLong = 0;

std::vector<Shape> Shapes() {
  return {
      {"put by value", 11, DISPATCH_PROPERTYPUT, [](auto&) { return std::vector{Long(55)}; }},
      {"put from text", 11, DISPATCH_PROPERTYPUT, [](auto&) { return std::vector{Text("55")}; }},
      {"put by reference", 11, DISPATCH_PROPERTYPUTREF,
       [](auto&) {
         referencedLong = 44;
         VARIANT v;
         VariantInit(&v);
         V_VT(&v) = VT_I4 | VT_BYREF;
         V_I4REF(&v) = &referencedLong;
         return std::vector{v};
       }},
      {"get a number", 11, DISPATCH_PROPERTYGET, [](auto&) { return std::vector<VARIANT>{}; }},
      {"get a string", 18, DISPATCH_PROPERTYGET, [](auto&) { return std::vector<VARIANT>{}; }},
      {"get bytes", 13, DISPATCH_PROPERTYGET, [](auto&) { return std::vector<VARIANT>{}; }},
      {"method, converted numbers", 5, DISPATCH_METHOD,
       [](auto&) {
         return std::vector{Real(20.4), Text("15")};
       }},
      {"method, float from text", 6, DISPATCH_METHOD,
       [](auto&) { return std::vector{Text("12.5")}; }},
      {"method, variant by reference", 4, DISPATCH_METHOD,
       [](auto&) {
         VariantClear(&referenced);
         referenced = Long(50);
         VARIANT v;
         VariantInit(&v);
         V_VT(&v) = VT_VARIANT | VT_BYREF;
         V_VARIANTREF(&v) = &referenced;
         return std::vector{v};
       }},
      {"method, file name", 9, DISPATCH_METHOD,
       [](const std::string& photo) { return std::vector{Text(photo)}; }},
      {"method, bytes by value", 12, DISPATCH_METHOD,
       [](const std::string& photo) {
         const std::vector<uint8_t> bytes = ReadBytes(photo);
         SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
         std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(array->pvData));
         VARIANT v;
         VariantInit(&v);
         V_VT(&v) = VT_ARRAY | VT_UI1;
         V_ARRAY(&v) = array;
         return std::vector{v};
       }},
      {"method, too few arguments", 7, DISPATCH_METHOD,
       [](auto&) {
         return std::vector{Long(1), Long(2)};
       }},
      {"method, unconvertible", 3, DISPATCH_METHOD,
       [](auto&) {
         return std::vector{Text("wide"), Long(2)};
       }},
  };
}

class InvokeSweep : public ServerSweep {};

TEST_P(InvokeSweep, EveryArgumentShape) {
  QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
  const std::string photo = testing::MakeJpegWithCjpeg(dir, "photo.jpg", 40, 30);
  using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
  TComPtr<IClassFactory> factory;
  ASSERT_EQ(
      Export<Proc>(module, "DllGetClassObject")(CLSID_Resize, IID_IClassFactory, factory.PutVoid()),
      S_OK);
  TComPtr<IResize> resize;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid()), S_OK);
  VariantInit(&referenced);
  for (const Shape& shape : Shapes()) {
    std::vector<VARIANT> arguments;  // last first, as DISPPARAMS holds them
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = (shape.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{};
    const auto call = [&] {
      UINT argError = 0;
      return resize->Invoke(shape.id, GUID_NULL, 0x409, shape.flags, &params, &result, &exception,
                            &argError);
    };
    const auto prepare = [&] {
      for (VARIANT& v : arguments) VariantClear(&v);
      arguments = shape.arguments(photo);
      std::reverse(arguments.begin(), arguments.end());
      params = DISPPARAMS{arguments.data(), put ? &named : nullptr,
                          static_cast<UINT>(arguments.size()), put ? 1u : 0u};
      ASSERT_EQ(resize->LoadFromFile(TBstr(Utf8ToNewBstr(photo)).get()), S_OK);
      ASSERT_EQ(resize->put_JPGQuality(90), S_OK);
    };
    const auto forget = [&] {
      VariantClear(&result);
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
      exception = EXCEPINFO{};
    };
    prepare();
    const HRESULT expected = call();
    const VARTYPE expectedType = V_VT(&result);
    forget();
    Sweep(GetParam(), {std::string("Invoke: ") + shape.name, prepare, call,
                       [&](HRESULT outcome, bool) {
                         if (outcome == expected) {
                           if (outcome == S_OK) {
                             EXPECT_EQ(V_VT(&result), expectedType);
                           }
                         } else {
                           EXPECT_LT(outcome, 0);
                           EXPECT_EQ(V_VT(&result), VT_EMPTY) << "no result from a failure";
                           // A member that could not describe its failure still gives its
                           // code.
                           EXPECT_TRUE(outcome != DISP_E_EXCEPTION || FAILED(exception.scode))
                               << "an exception comes with the member's code";
                         }
                         forget();
                       },
                       expected});
    for (VARIANT& v : arguments) VariantClear(&v);
    if (HasFatalFailure()) break;
  }
  VariantClear(&referenced);
}

INSTANTIATE_TEST_SUITE_P(Faults, ServerSweep, kAllKinds, KindLabel);
INSTANTIATE_TEST_SUITE_P(Faults, InvokeSweep, ::testing::Values(Kind::kAllocation, Kind::kIo),
                         KindLabel);

}  // namespace
}  // namespace quorvex::faults

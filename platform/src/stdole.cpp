// The standard OLE type library, built in: what other libraries import from "stdole2.tlb".
// Only the types automation servers here refer to are described. The restricted IUnknown and
// IDispatch members use untyped pointers where Windows' library has GUID, DISPPARAMS and
// EXCEPINFO records, which no caller can invoke late-bound anyway.
#include <mutex>

#include "platform/src/type_library.h"

namespace platform_detail {

namespace {

constexpr const char* kStandardOle = R"IDL(
[uuid(00020430-0000-0000-C000-000000000046), version(2.0), helpstring("OLE Automation")]
library stdole
{
  [odl, uuid(00000000-0000-0000-C000-000000000046), hidden]
  interface IUnknown
  {
    [restricted] HRESULT QueryInterface([in] void* riid, [out] void** ppvObj);
    [restricted] unsigned long AddRef();
    [restricted] unsigned long Release();
  };

  [odl, uuid(00020400-0000-0000-C000-000000000046), restricted]
  interface IDispatch : IUnknown
  {
    [restricted] HRESULT GetTypeInfoCount([out] unsigned int* pctinfo);
    [restricted] HRESULT GetTypeInfo([in] unsigned int itinfo, [in] unsigned long lcid,
                                     [out] void** pptinfo);
    [restricted] HRESULT GetIDsOfNames([in] void* riid, [in] char** rgszNames,
                                       [in] unsigned int cNames, [in] unsigned long lcid,
                                       [out] long* rgdispid);
    [restricted] HRESULT Invoke([in] long dispidMember, [in] void* riid,
                                [in] unsigned long lcid, [in] unsigned short wFlags,
                                [in] void* pdispparams, [out] VARIANT* pvarResult,
                                [out] void* pexcepinfo, [out] unsigned int* puArgErr);
  };

  typedef [uuid(66504301-BE0F-101A-8BBB-00AA00300CAB), public] unsigned long OLE_COLOR;
};
)IDL";

}  // namespace

TypeLibImpl* StandardOleLibrary() {
  // Built once and kept for the life of the process.
  static TypeLibImpl* library = [] {
    TypeLibImpl* lib = nullptr;
    std::string error;
    const HRESULT hr = BuildTypeLib(
        idl::Parse(kStandardOle),
        [](std::u16string_view, TypeLibImpl**) -> HRESULT { return TYPE_E_CANTLOADLIBRARY; }, &lib,
        &error, false);
    return SUCCEEDED(hr) ? lib : nullptr;
  }();
  return library;
}

}  // namespace platform_detail

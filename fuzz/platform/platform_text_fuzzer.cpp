// The platform's readers of untrusted text: interface descriptions (type libraries built from
// them), the registry file and numbers in strings (VariantChangeType from VT_BSTR).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/src/idl_model.h"
#include "platform/src/registry_store.h"
#include "platform/src/type_library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0: {
      try {
        const platform_detail::idl::Library description = platform_detail::idl::Parse(text);
        platform_detail::TypeLibImpl* lib = nullptr;
        const auto noImports = [](std::u16string_view, platform_detail::TypeLibImpl**) -> HRESULT {
          return TYPE_E_CANTLOADLIBRARY;
        };
        if (SUCCEEDED(platform_detail::BuildTypeLib(description, noImports, &lib, nullptr))) {
          // Walk every description the way a client would.
          for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info))) continue;
            TYPEATTR* attr = nullptr;
            info->GetTypeAttr(&attr);
            for (UINT f = 0; f < attr->cFuncs; ++f) {
              FUNCDESC* desc = nullptr;
              if (FAILED(info->GetFuncDesc(f, &desc))) continue;
              BSTR names[4] = {};
              UINT count = 0;
              info->GetNames(desc->memid, names, 4, &count);
              for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
              info->ReleaseFuncDesc(desc);
            }
            for (UINT t = 0; t < attr->cImplTypes; ++t) {
              HREFTYPE href = 0;
              ITypeInfo* ref = nullptr;
              if (SUCCEEDED(info->GetRefTypeOfImplType(t, &href)) &&
                  SUCCEEDED(info->GetRefTypeInfo(href, &ref)))
                ref->Release();
            }
            info->ReleaseTypeAttr(attr);
            info->Release();
          }
          lib->Release();
        }
      } catch (const platform_detail::idl::ParseError&) {
      }
      break;
    }
    case 1: {
      platform_detail::RegistryTree tree;
      if (platform_detail::ParseRegistry(text, &tree) == ERROR_SUCCESS) {
        // What was read is written back the same way.
        platform_detail::RegistryTree again;
        if (platform_detail::ParseRegistry(platform_detail::SerializeRegistry(tree), &again) !=
            ERROR_SUCCESS)
          __builtin_trap();
      }
      break;
    }
    default: {
      std::u16string wide(text.size() / 2, u'\0');
      for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(static_cast<uint8_t>(text[2 * i]) |
                                        (static_cast<uint8_t>(text[2 * i + 1]) << 8));
      VARIANT in;
      VariantInit(&in);
      V_VT(&in) = VT_BSTR;
      V_BSTR(&in) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      static const VARTYPE kTargets[] = {VT_I1,   VT_UI1,     VT_I2,    VT_UI2, VT_I4, VT_UI4,
                                         VT_I8,   VT_UI8,     VT_R4,    VT_R8,  VT_CY, VT_BOOL,
                                         VT_DATE, VT_DECIMAL, VT_EMPTY, VT_NULL};
      for (VARTYPE target : kTargets) {
        VARIANT out;
        VariantInit(&out);
        if (SUCCEEDED(VariantChangeType(&out, &in, 0, target))) {
          VARIANT back;
          VariantInit(&back);
          VariantChangeType(&back, &out, 0, VT_BSTR);
          VariantClear(&back);
        }
        VariantClear(&out);
      }
      VariantClear(&in);
    }
  }
  return 0;
}

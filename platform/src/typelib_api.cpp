// Loading type libraries (from a module's resource, a description file or the built-in
// standard library) and their registration under HKEY_CLASSES_ROOT\TypeLib and \Interface.
#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>

#include "platform/com_ptr.h"
#include "platform/src/boundary_guard.h"
#include "platform/src/module_table.h"
#include "platform/src/text.h"
#include "platform/src/type_library.h"
#include "platform/typelib_resource.h"

namespace {

using platform_detail::TypeLibImpl;

constexpr size_t kMaxDescription = 4u << 20;
constexpr int kMaxImportDepth = 8;
thread_local int importDepth = 0;

bool IsStandardLibraryName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string name =
      platform_detail::Folded(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
  return name == u"STDOLE2.TLB" || name == u"STDOLE32.TLB";
}

// The description text a module carries, if it carries one.
bool ModuleDescription(const std::string& path, std::string* text) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (handle == nullptr) handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return false;
  bool found = false;
  const auto* resource =
      static_cast<const QvTypeLibResource*>(dlsym(handle, QV_TYPELIB_RESOURCE_SYMBOL));
  link_map* map = nullptr;
  // Only the module's own symbol counts, not one of a library it depends on.
  if (resource != nullptr && dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 &&
      platform_detail::ModuleFromAddress(resource) ==
          platform_detail::ModuleFromAddress(map->l_ld) &&
      resource->magic == QV_TYPELIB_RESOURCE_MAGIC &&
      resource->version == QV_TYPELIB_RESOURCE_VERSION && resource->text != nullptr &&
      resource->length <= kMaxDescription) {
    text->assign(resource->text, resource->length);
    found = true;
  }
  dlclose(handle);
  return found;
}

bool IsElfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in.gcount() == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' &&
         magic[3] == 'F';
}

HRESULT LoadLibraryFile(std::u16string_view file, TypeLibImpl** result);

HRESULT LoadImport(std::u16string_view name, TypeLibImpl** result) {
  if (importDepth >= kMaxImportDepth) return TYPE_E_CANTLOADLIBRARY;
  ++importDepth;
  const HRESULT hr = LoadLibraryFile(name, result);
  --importDepth;
  return hr;
}

HRESULT LoadLibraryFile(std::u16string_view file, TypeLibImpl** result) {
  *result = nullptr;
  if (IsStandardLibraryName(file)) {
    TypeLibImpl* standard = platform_detail::StandardOleLibrary();
    if (standard == nullptr) return TYPE_E_CANTLOADLIBRARY;
    standard->AddRef();
    *result = standard;
    return S_OK;
  }
  const std::string path = platform_detail::ToUtf8(file);
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return TYPE_E_CANTLOADLIBRARY;
  std::string text;
  if (IsElfFile(path)) {
    if (!ModuleDescription(path, &text)) return TYPE_E_CANTLOADLIBRARY;
  } else {
    if (std::filesystem::file_size(path, ec) > kMaxDescription || ec) return TYPE_E_CANTLOADLIBRARY;
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  platform_detail::idl::Library description;
  try {
    description = platform_detail::idl::Parse(text);
  } catch (const platform_detail::idl::ParseError&) {
    return TYPE_E_INVDATAREAD;
  }
  return platform_detail::BuildTypeLib(description, &LoadImport, result, nullptr);
}

std::u16string GuidText(REFGUID guid) {
  OLECHAR text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

std::u16string Hex(unsigned value) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string out;
  do {
    out.insert(out.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return out;
}

std::u16string LibraryKey(REFGUID guid, WORD major, WORD minor) {
  return u"TypeLib\\" + GuidText(guid) + u"\\" + Hex(major) + u"." + Hex(minor);
}

// Creates `path` below `parent` and sets its default string value; false on any failure.
bool WriteKey(HKEY parent, const std::u16string& path, const std::u16string* value,
              const char16_t* valueName = nullptr) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  if (value != nullptr)
    ok =
        RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>((value->size() + 1) * sizeof(char16_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

constexpr platform_detail::BoundaryGuard<HRESULT, E_OUTOFMEMORY> Guarded;

// Calls visit(info, attributes) for each dispatch interface and automation-compatible
// interface of the library: the ones marshalled by the library's description.
template <typename Visit>
HRESULT ForEachAutomationInterface(ITypeLib* library, Visit&& visit) {
  const UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    // A type that cannot be read is not skipped: its keys would be left out or left behind.
    quorvex::TComPtr<ITypeInfo> info;
    if (const HRESULT hr = library->GetTypeInfo(i, info.Put()); FAILED(hr)) return hr;
    TYPEATTR* typeAttr = nullptr;
    if (const HRESULT hr = info->GetTypeAttr(&typeAttr); FAILED(hr)) return hr;
    const TYPEATTR attributes = *typeAttr;
    info->ReleaseTypeAttr(typeAttr);
    if (attributes.typekind == TKIND_DISPATCH ||
        (attributes.typekind == TKIND_INTERFACE &&
         (attributes.wTypeFlags & TYPEFLAG_FOLEAUTOMATION)))
      visit(info.get(), attributes);
  }
  return S_OK;
}

const char16_t* kProxyStubDispatch = u"{00020424-0000-0000-C000-000000000046}";
const char16_t* kProxyStubUniversal = u"{00020420-0000-0000-C000-000000000046}";

}  // namespace

HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
  if (szFile == nullptr || pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  return Guarded([&] {
    TypeLibImpl* lib = nullptr;
    HRESULT hr = LoadLibraryFile(platform_detail::WideView(szFile), &lib);
    if (FAILED(hr)) return hr;
    // As on Windows, a library named without a full path is also registered by default.
    const bool fullPath = szFile[0] == u'/';
    if (regkind == REGKIND_REGISTER ||
        (regkind == REGKIND_DEFAULT && !fullPath &&
         !IsStandardLibraryName(platform_detail::WideView(szFile)))) {
      hr = RegisterTypeLib(lib, szFile, nullptr);
      if (FAILED(hr)) {
        lib->Release();
        return hr;
      }
    }
    *pptlib = lib;
    return S_OK;
  });
}

HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
  return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}

HRESULT WINAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                     BSTR* lpbstrPathName) {
  if (lpbstrPathName == nullptr) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  return Guarded([&] {
    HKEY key = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_CLASSES_ROOT, LibraryKey(guid, wMaj, wMin).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return TYPE_E_LIBNOTREGISTERED;
    if (status != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    HRESULT hr = TYPE_E_LIBNOTREGISTERED;
    for (const LCID candidate : {lcid, static_cast<LCID>(PRIMARYLANGID(lcid)), LCID{0}}) {
      char16_t path[1024];
      LONG size = sizeof path;
      const std::u16string sub = Hex(candidate) + u"\\win64";
      HKEY probe = nullptr;
      const LSTATUS opened = RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, &probe);
      if (opened == ERROR_FILE_NOT_FOUND) continue;
      if (opened != ERROR_SUCCESS) {
        // Unreadable is not unregistered: a caller would skip what is still there.
        hr = TYPE_E_REGISTRYACCESS;
        break;
      }
      RegCloseKey(probe);
      const LSTATUS read = RegQueryValueW(key, sub.c_str(), path, &size);
      if (read == ERROR_SUCCESS) {
        *lpbstrPathName = platform_detail::MakeBstr(platform_detail::WideView(path));
        hr = S_OK;
        break;
      }
      if (read != ERROR_FILE_NOT_FOUND) {
        hr = TYPE_E_REGISTRYACCESS;
        break;
      }
    }
    RegCloseKey(key);
    return hr;
  });
}

HRESULT WINAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                              ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  quorvex::TBstr path;
  HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, path.Put());
  if (SUCCEEDED(hr)) hr = LoadTypeLibEx(path.get(), REGKIND_NONE, pptlib);
  return hr;
}

HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    TLIBATTR* attr = nullptr;
    if (FAILED(ptlib->GetLibAttr(&attr))) return E_FAIL;
    const TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    quorvex::TBstr name, doc;
    if (FAILED(ptlib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr))) return E_FAIL;
    const std::u16string title(
        platform_detail::WideView(doc.get() != nullptr ? doc.get() : name.get()));

    const std::u16string libKey = LibraryKey(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum);
    const std::u16string path(platform_detail::WideView(szFullPath));
    std::u16string helpDir;
    if (szHelpDir != nullptr) {
      helpDir = platform_detail::WideView(szHelpDir);
    } else {
      const size_t slash = path.find_last_of(u"/\\");
      helpDir = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
    }
    const std::u16string flags = platform_detail::FromUtf8(std::to_string(lib.wLibFlags));
    if (!WriteKey(HKEY_CLASSES_ROOT, libKey, &title) ||
        !WriteKey(HKEY_CLASSES_ROOT, libKey + u"\\" + Hex(lib.lcid) + u"\\win64", &path) ||
        !WriteKey(HKEY_CLASSES_ROOT, libKey + u"\\FLAGS", &flags) ||
        !WriteKey(HKEY_CLASSES_ROOT, libKey + u"\\HELPDIR", &helpDir))
      return TYPE_E_REGISTRYACCESS;

    bool written = true;
    HRESULT named = S_OK;  // a name that could not be read is not registered as an empty one
    const HRESULT read = ForEachAutomationInterface(ptlib, [&](ITypeInfo* info, const TYPEATTR& t) {
      quorvex::TBstr typeName;
      if (!written || FAILED(named)) return;
      named = info->GetDocumentation(MEMBERID_NIL, typeName.Put(), nullptr, nullptr, nullptr);
      if (FAILED(named)) return;
      const std::u16string interfaceName(platform_detail::WideView(typeName.get()));
      const std::u16string key = u"Interface\\" + GuidText(t.guid);
      const std::u16string proxy =
          (t.typekind == TKIND_INTERFACE || (t.wTypeFlags & TYPEFLAG_FDUAL)) ? kProxyStubDispatch
                                                                             : kProxyStubUniversal;
      const std::u16string libGuid = GuidText(lib.guid);
      const std::u16string version = Hex(lib.wMajorVerNum) + u"." + Hex(lib.wMinorVerNum);
      written = written && WriteKey(HKEY_CLASSES_ROOT, key, &interfaceName) &&
                WriteKey(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid", &proxy) &&
                WriteKey(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid32", &proxy) &&
                WriteKey(HKEY_CLASSES_ROOT, key + u"\\TypeLib", &libGuid) &&
                WriteKey(HKEY_CLASSES_ROOT, key + u"\\TypeLib", &version, u"Version");
    });
    if (FAILED(read)) return read;
    if (FAILED(named)) return named;
    return written ? S_OK : TYPE_E_REGISTRYACCESS;
  });
}

HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                 SYSKIND syskind) {
  if (syskind != SYS_WIN16 && syskind != SYS_WIN32 && syskind != SYS_WIN64) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    quorvex::TBstr path;
    // Not registered, or the registry could not be read: either way nothing is deleted.
    const HRESULT found = QueryPathOfRegTypeLib(libID, wVerMajor, wVerMinor, lcid, path.Put());
    if (FAILED(found) && found != TYPE_E_LIBNOTREGISTERED) return found;
    // A key that stays (other than one that is not there) fails the call; the rest still go.
    bool gone = true;
    const auto remove = [&](const std::u16string& key) {
      const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
      gone = gone && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND);
    };
    quorvex::TComPtr<ITypeLib> lib;
    // Without a path (an earlier call stopped after removing it) only the version key is left.
    const HRESULT loaded =
        SUCCEEDED(found) ? LoadTypeLibEx(path.get(), REGKIND_NONE, lib.Put()) : found;
    if (SUCCEEDED(loaded)) {
      const HRESULT read =
          ForEachAutomationInterface(lib.get(), [&](ITypeInfo*, const TYPEATTR& t) {
            const std::u16string key = u"Interface\\" + GuidText(t.guid);
            for (const char16_t* sub : {u"\\ProxyStubClsid", u"\\ProxyStubClsid32", u"\\TypeLib"})
              remove(key + sub);
            remove(key);
          });
      if (FAILED(read)) return read;
    } else if (SUCCEEDED(found) && std::filesystem::exists(platform_detail::ToUtf8(
                                       platform_detail::WideView(path.get())))) {
      // The library is there but could not be read: its interfaces' keys would stay behind.
      return loaded;
    }
    // The path entry goes last, so that a call that failed finds the library again to retry.
    if (!gone) return TYPE_E_REGISTRYACCESS;
    // The path entry, then the version key when nothing else is left under it.
    const std::u16string libKey = LibraryKey(libID, wVerMajor, wVerMinor);
    remove(libKey + u"\\" + Hex(lcid) + u"\\win64");
    remove(libKey + u"\\" + Hex(lcid));
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, libKey.c_str(), 0, KEY_READ, &key);
    if (FAILED(found) && opened == ERROR_FILE_NOT_FOUND) {
      // Never registered, or an earlier call stopped just before the GUID key: refused while
      // other versions live under it.
      const LSTATUS status =
          RegDeleteKeyW(HKEY_CLASSES_ROOT, (u"TypeLib\\" + GuidText(libID)).c_str());
      return status == ERROR_NOT_ENOUGH_MEMORY || status == ERROR_REGISTRY_IO_FAILED
                 ? TYPE_E_REGISTRYACCESS
                 : found;
    }
    if (opened == ERROR_SUCCESS) {
      bool onlyOwnKeys = true;
      for (DWORD i = 0;; ++i) {
        char16_t sub[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, sub, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
          break;
        const std::u16string_view name(sub, length);
        if (name != u"FLAGS" && name != u"HELPDIR") onlyOwnKeys = false;
      }
      RegCloseKey(key);
      if (onlyOwnKeys) {
        remove(libKey + u"\\FLAGS");
        remove(libKey + u"\\HELPDIR");
        remove(libKey);
        const std::u16string guidKey = u"TypeLib\\" + GuidText(libID);
        // Refused while other versions exist, which is as it should be.
        const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, guidKey.c_str());
        gone = gone && status != ERROR_NOT_ENOUGH_MEMORY && status != ERROR_REGISTRY_IO_FAILED;
      }
    } else if (opened != ERROR_FILE_NOT_FOUND) {
      gone = false;
    }
    return gone ? S_OK : TYPE_E_REGISTRYACCESS;
  });
}

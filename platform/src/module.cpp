// Modules and entry points over the dynamic loader.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "platform/src/module_table.h"
#include "platform/src/text.h"

namespace platform_detail {

namespace {

thread_local DWORD lastError = 0;

// Loader handles taken by LoadLibraryW, per module base, so FreeLibrary can give one back.
struct LoadedModules {
  std::mutex mutex;
  std::map<HMODULE, std::vector<void*>> handles;
};
LoadedModules& Loaded() {
  static LoadedModules* modules = new LoadedModules();  // used until exit
  return *modules;
}

HMODULE BaseOfHandle(void* handle) {
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  return ModuleFromAddress(map->l_ld);
}

HMODULE MainModule() {
  void* self = dlopen(nullptr, RTLD_LAZY);
  HMODULE base = self != nullptr ? BaseOfHandle(self) : nullptr;
  if (self != nullptr) dlclose(self);
  return base;
}

std::string ExecutablePath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

}  // namespace

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
}

std::string ModulePath(HMODULE module) {
  Dl_info info;
  if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fbase != module) return {};
  if (module == MainModule()) return ExecutablePath();
  if (info.dli_fname == nullptr || *info.dli_fname == 0) return {};
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : absolute.lexically_normal().string();
}

HMODULE PlatformModule() {
  return ModuleFromAddress(reinterpret_cast<void*>(&PlatformModule));
}

bool IsSystemModuleName(std::u16string_view name) {
  const size_t slash = name.find_last_of(u"\\/");
  if (slash != std::u16string_view::npos) name = name.substr(slash + 1);
  std::u16string folded = Folded(name);
  if (folded.size() > 4 && folded.compare(folded.size() - 4, 4, u".DLL") == 0)
    folded.resize(folded.size() - 4);
  static const char16_t* const kSystem[] = {u"KERNEL32", u"KERNELBASE", u"OLE32",
                                            u"OLEAUT32", u"ADVAPI32",   u"COMBASE"};
  for (const char16_t* system : kSystem)
    if (folded == system) return true;
  return false;
}

HMODULE LoadModule(const std::string& path, DWORD* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  const HMODULE base = BaseOfHandle(handle);
  if (base == nullptr) {
    dlclose(handle);
    *error = ERROR_BAD_FORMAT;
    return nullptr;
  }
  LoadedModules& loaded = Loaded();
  std::lock_guard<std::mutex> guard(loaded.mutex);
  loaded.handles[base].push_back(handle);
  return base;
}

bool FreeModule(HMODULE module) {
  void* handle = nullptr;
  {
    LoadedModules& loaded = Loaded();
    std::lock_guard<std::mutex> guard(loaded.mutex);
    const auto it = loaded.handles.find(module);
    if (it == loaded.handles.end()) return false;
    handle = it->second.back();
    it->second.pop_back();
    if (it->second.empty()) loaded.handles.erase(it);
  }
  dlclose(handle);
  return true;
}

void* ModuleSymbol(HMODULE module, const char* name) {
  Dl_info info;
  if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fbase != module) return nullptr;
  void* handle = module == MainModule() ? dlopen(nullptr, RTLD_LAZY)
                                        : dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  void* symbol = dlsym(handle, name);
  dlclose(handle);  // the module stays loaded: its own references keep it
  // dlsym also searches the module's dependencies; only the module's own exports count.
  if (symbol != nullptr && ModuleFromAddress(symbol) != module) symbol = nullptr;
  return symbol;
}

}  // namespace platform_detail

DWORD WINAPI GetLastError(void) {
  return platform_detail::lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  platform_detail::lastError = dwErrCode;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  try {
    // No module: the executable of the process.
    const std::string path = hModule == nullptr ? platform_detail::ExecutablePath()
                                                : platform_detail::ModulePath(hModule);
    if (path.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    const std::u16string wide = platform_detail::FromUtf8(path);
    if (lpFilename == nullptr || nSize == 0) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    if (wide.size() >= nSize) {
      // Truncated, terminated, and the buffer size returned, as Windows does.
      std::copy(wide.begin(), wide.begin() + (nSize - 1), lpFilename);
      lpFilename[nSize - 1] = 0;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return nSize;
    }
    std::copy(wide.begin(), wide.end(), lpFilename);
    lpFilename[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  try {
    if (lpModuleName == nullptr) return platform_detail::MainModule();
    const std::u16string_view name = platform_detail::WideView(lpModuleName);
    if (platform_detail::IsSystemModuleName(name)) return platform_detail::PlatformModule();
    // A loaded module, by full path or by file name.
    struct Search {
      std::string wanted;
      bool byFileName;
      HMODULE found = nullptr;
    } search{platform_detail::ToUtf8(name), name.find_first_of(u"/\\") == name.npos};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
          // Nothing may be thrown through the loader's frames.
          try {
            auto* s = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || *info->dlpi_name == 0) return 0;
            std::string candidate = info->dlpi_name;
            if (s->byFileName) candidate = std::filesystem::path(candidate).filename().string();
            if (candidate != s->wanted) return 0;
            s->found = platform_detail::ModuleFromAddress(info->dlpi_phdr);
            return 1;
          } catch (...) {
            return 1;
          }
        },
        &search);
    if (search.found == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return search.found;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
  if (phModule == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                  ? platform_detail::ModuleFromAddress(lpModuleName)
                  : GetModuleHandleW(lpModuleName);
  if (*phModule == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  // Ordinals (values below 0x10000) do not exist here.
  if (lpProcName == nullptr || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = platform_detail::ModuleSymbol(hModule, lpProcName);
  if (symbol == nullptr) {
    SetLastError(hModule == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
  try {
    if (lpLibFileName == nullptr || *lpLibFileName == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    const std::u16string_view name = platform_detail::WideView(lpLibFileName);
    if (platform_detail::IsSystemModuleName(name)) return platform_detail::PlatformModule();
    DWORD error = 0;
    const HMODULE module = platform_detail::LoadModule(platform_detail::ToUtf8(name), &error);
    if (module == nullptr) SetLastError(error);
    return module;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (hLibModule != nullptr && hLibModule == platform_detail::PlatformModule()) return TRUE;
  if (platform_detail::FreeModule(hLibModule)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

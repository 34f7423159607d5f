// The registry functions over the file store: open key handles name a path, every call reads
// or updates the shared file (platform/src/registry_store.h).
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/src/boundary_guard.h"
#include "platform/src/registry_store.h"
#include "platform/src/text.h"

namespace {

using platform_detail::EqualsIgnoreCase;
using platform_detail::Folded;
using platform_detail::RegistryKey;
using platform_detail::RegistryTree;
using platform_detail::RegistryValue;
using Path = std::vector<std::u16string>;

constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

// Open handles: the path each one names. Handles are small even numbers that cannot be
// mistaken for the predefined roots.
class HandleTable {
 public:
  HKEY Add(Path path) {
    std::lock_guard<std::mutex> guard(mutex_);
    const uintptr_t id = (next_ += 4);
    paths_.emplace(id, std::move(path));
    return reinterpret_cast<HKEY>(id);
  }
  bool Get(HKEY key, Path* path) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = paths_.find(reinterpret_cast<uintptr_t>(key));
    if (it == paths_.end()) return false;
    *path = it->second;
    return true;
  }
  bool Remove(HKEY key) {
    std::lock_guard<std::mutex> guard(mutex_);
    return paths_.erase(reinterpret_cast<uintptr_t>(key)) != 0;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = 0x1000;
  std::unordered_map<uintptr_t, Path> paths_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable();  // lives until exit: handles may outlive statics
  return *table;
}

const char16_t* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
  return nullptr;
}

LSTATUS BasePath(HKEY key, Path* path) {
  if (const char16_t* root = RootName(key)) {
    *path = {root};
    return ERROR_SUCCESS;
  }
  return Handles().Get(key, path) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Appends the components of a sub-key name ("a\b\c"); a trailing separator is allowed.
LSTATUS AppendSubKey(const OLECHAR* subKey, Path* path) {
  const std::u16string_view text = platform_detail::WideView(subKey);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\\', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view component = text.substr(start, end - start);
    if (component.empty() || component.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
    path->emplace_back(component);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LSTATUS Resolve(HKEY key, const OLECHAR* subKey, Path* path) {
  LSTATUS status = BasePath(key, path);
  if (status == ERROR_SUCCESS) status = AppendSubKey(subKey, path);
  return status;
}

// Reads the registry and finds the key of an open handle.
template <typename F>
LSTATUS WithKey(const Path& path, F&& use) {
  RegistryTree tree;
  const LSTATUS status = platform_detail::LoadRegistry(&tree);
  if (status != ERROR_SUCCESS) return status;
  RegistryKey* key = tree.Find(path);
  if (key == nullptr) return path.size() == 1 ? ERROR_INVALID_HANDLE : ERROR_KEY_DELETED;
  return use(*key);
}

constexpr platform_detail::BoundaryGuard<LSTATUS, ERROR_NOT_ENOUGH_MEMORY> Guarded;

}  // namespace

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                               const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&] {
    Path base;
    LSTATUS status = BasePath(hKey, &base);
    if (status != ERROR_SUCCESS) return status;
    Path path = base;
    if ((status = AppendSubKey(lpSubKey, &path)) != ERROR_SUCCESS) return status;
    // The handle is made first: after the file has changed, nothing may fail.
    const HKEY handle = Handles().Add(path);
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    status = platform_detail::UpdateRegistry([&](RegistryTree& tree, bool* changed) {
      RegistryKey* key = tree.Find(base);
      if (key == nullptr) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
      for (size_t i = base.size(); i < path.size(); ++i) {
        RegistryKey* child = key->FindChild(path[i]);
        if (child == nullptr) {
          child =
              &key->children.emplace(Folded(path[i]), RegistryKey{path[i], {}, {}}).first->second;
          disposition = REG_CREATED_NEW_KEY;
          *changed = true;
        }
        key = child;
      }
      return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
    if (status != ERROR_SUCCESS) {
      Handles().Remove(handle);
      return status;
    }
    *phkResult = handle;
    if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&] {
    Path path;
    LSTATUS status = Resolve(hKey, lpSubKey, &path);
    if (status != ERROR_SUCCESS) return status;
    RegistryTree tree;
    if ((status = platform_detail::LoadRegistry(&tree)) != ERROR_SUCCESS) return status;
    if (tree.Find(path) == nullptr) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    *phkResult = Handles().Add(std::move(path));
    return static_cast<LSTATUS>(ERROR_SUCCESS);
  });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (RootName(hKey) != nullptr) return ERROR_SUCCESS;
  return Handles().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return 998;  // ERROR_NOACCESS
  const std::u16string_view name = platform_detail::WideView(lpValueName);
  if (name.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    Path path;
    LSTATUS status = BasePath(hKey, &path);
    if (status != ERROR_SUCCESS) return status;
    return platform_detail::UpdateRegistry([&](RegistryTree& tree, bool* changed) {
      RegistryKey* key = tree.Find(path);
      if (key == nullptr) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
      RegistryValue* value = key->FindValue(name);
      if (value == nullptr) {
        key->values.push_back(RegistryValue{std::u16string(name), REG_NONE, {}});
        value = &key->values.back();
      }
      value->type = dwType;
      value->data.assign(lpData, lpData + cbData);
      *changed = true;
      return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
  });
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    Path path;
    const LSTATUS status = BasePath(hKey, &path);
    if (status != ERROR_SUCCESS) return status;
    return WithKey(path, [&](RegistryKey& key) -> LSTATUS {
      const RegistryValue* value = key.FindValue(platform_detail::WideView(lpValueName));
      if (value == nullptr) return ERROR_FILE_NOT_FOUND;
      if (lpType != nullptr) *lpType = value->type;
      const DWORD size = static_cast<DWORD>(value->data.size());
      if (lpcbData == nullptr) return ERROR_SUCCESS;
      if (lpData == nullptr) {
        *lpcbData = size;
        return ERROR_SUCCESS;
      }
      if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
      }
      std::copy(value->data.begin(), value->data.end(), lpData);
      *lpcbData = size;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, LPLONG lpcbData) {
  HKEY sub = nullptr;
  LSTATUS status = RegOpenKeyExW(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &sub);
  if (status != ERROR_SUCCESS) return status;
  DWORD type = REG_NONE;
  DWORD size = lpcbData != nullptr ? static_cast<DWORD>(*lpcbData) : 0;
  status = RegQueryValueExW(sub, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(lpData),
                            lpcbData != nullptr ? &size : nullptr);
  RegCloseKey(sub);
  if (status == ERROR_FILE_NOT_FOUND) {
    // A key without a default value reads as the empty string.
    if (lpcbData != nullptr) {
      if (lpData != nullptr && *lpcbData >= 2) lpData[0] = 0;
      *lpcbData = 2;
    }
    return ERROR_SUCCESS;
  }
  if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
    return 13;  // ERROR_INVALID_DATA
  if (lpcbData != nullptr) *lpcbData = static_cast<LONG>(size);
  return status;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    Path path;
    LSTATUS status = Resolve(hKey, lpSubKey, &path);
    if (status != ERROR_SUCCESS) return status;
    if (path.size() < 2) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);  // a root itself
    return platform_detail::UpdateRegistry([&](RegistryTree& tree, bool* changed) {
      Path parentPath(path.begin(), path.end() - 1);
      RegistryKey* parent = tree.Find(parentPath);
      RegistryKey* key = parent != nullptr ? parent->FindChild(path.back()) : nullptr;
      if (key == nullptr) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
      // A key with sub-keys cannot be deleted, as on Windows.
      if (!key->children.empty()) return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
      parent->children.erase(Folded(path.back()));
      *changed = true;
      return static_cast<LSTATUS>(ERROR_SUCCESS);
    });
  });
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return Guarded([&] {
    Path path;
    const LSTATUS status = BasePath(hKey, &path);
    if (status != ERROR_SUCCESS) return status;
    const std::u16string_view name = platform_detail::WideView(lpValueName);
    return platform_detail::UpdateRegistry([&](RegistryTree& tree, bool* changed) {
      RegistryKey* key = tree.Find(path);
      if (key == nullptr) return static_cast<LSTATUS>(ERROR_KEY_DELETED);
      for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (EqualsIgnoreCase(it->name, name)) {
          key->values.erase(it);
          *changed = true;
          return static_cast<LSTATUS>(ERROR_SUCCESS);
        }
      }
      return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
    });
  });
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    Path path;
    const LSTATUS status = BasePath(hKey, &path);
    if (status != ERROR_SUCCESS) return status;
    return WithKey(path, [&](RegistryKey& key) -> LSTATUS {
      // Sub-keys come in case-insensitive name order, as the map keeps them.
      if (dwIndex >= key.children.size()) return ERROR_NO_MORE_ITEMS;
      auto it = key.children.begin();
      std::advance(it, dwIndex);
      const std::u16string& name = it->second.name;
      if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
      std::copy(name.begin(), name.end(), lpName);
      lpName[name.size()] = 0;
      *lpcchName = static_cast<DWORD>(name.size());
      if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
      if (lpcchClass != nullptr) *lpcchClass = 0;
      if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
      return ERROR_SUCCESS;
    });
  });
}

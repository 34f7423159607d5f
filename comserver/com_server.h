// The in-process server: object and factory counts, the type library loaded from the module's
// own file, the list of class factories, and registration.
#pragma once

#include <atomic>
#include <functional>
#include <shared_mutex>
#include <string>

#include "platform/com_ptr.h"
#include "platform/winapi.h"

namespace quorvex {

class TComObjectFactory;

using TOleString = std::basic_string<OLECHAR>;

// The class factories of the process, most recently created first.
class TComClassManager {
 public:
  void AddFactory(TComObjectFactory& factory);
  void RemoveFactory(TComObjectFactory& factory);
  // The factory for the class, or null (a reader of the list).
  TComObjectFactory* GetFactoryFromClassID(REFCLSID classId);
  // Visits every factory under the writer's side of the lock, as registration needs.
  void ForEachFactory(const std::function<void(TComObjectFactory&)>& visit);

 private:
  std::shared_mutex lock_;
  TComObjectFactory* first_ = nullptr;
};

class TComServer {
 public:
  // module: the server module itself, whose file holds the type library.
  explicit TComServer(HMODULE module);
  ~TComServer();
  TComServer(const TComServer&) = delete;
  TComServer& operator=(const TComServer&) = delete;

  void CountObject(bool created) noexcept;
  void CountFactory(bool created) noexcept;
  LONG ObjectCount() const noexcept { return objectCount_.load(); }
  LONG FactoryCount() const noexcept { return factoryCount_.load(); }
  bool CanUnloadNow() const noexcept { return ObjectCount() == 0 && FactoryCount() == 0; }

  // Loaded from the module's own file on first use, then kept; raises EOleSysError.
  ITypeLib* TypeLib();
  // The type library's name unless a server name was set: "Quorvex".
  std::string ServerName();
  TOleString ServerFileName() const;
  bool IsInprocServer() const noexcept { return true; }
  TComClassManager& ClassManager() noexcept { return classManager_; }

  // Registers or unregisters the type library and every creatable class.
  void UpdateRegistry(bool doRegister);

 private:
  void RegisterTypeLibrary();
  // Whether the library's registration is gone (removed, or never there).
  bool UnregisterTypeLibrary();

  std::atomic<LONG> objectCount_{0};
  std::atomic<LONG> factoryCount_{0};
  HMODULE module_;
  HMODULE automationLibrary_;
  TComPtr<ITypeLib> typeLib_;
  std::string serverName_;
  TComClassManager classManager_;
};

// Writes one string value under HKEY_CLASSES_ROOT, creating the key; raises
// EOleRegistrationError.
void CreateRegKey(const std::string& key, const std::string& valueName, const TOleString& data);
// Deletes one key under HKEY_CLASSES_ROOT. A key that cannot be deleted is passed over so that
// the rest still go; the result says whether the key is gone (deleted, or never there).
bool DeleteRegKey(const std::string& key) noexcept;
std::string GUIDToString(REFGUID guid);

}  // namespace quorvex

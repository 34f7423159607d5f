#include "comserver/com_server.h"

#include <mutex>

#include "comserver/class_factory.h"
#include "comserver/ole_errors.h"
#include "comserver/text_conversion.h"

namespace quorvex {

void TComClassManager::AddFactory(TComObjectFactory& factory) {
  std::unique_lock guard(lock_);
  factory.Next = first_;
  first_ = &factory;
}

void TComClassManager::RemoveFactory(TComObjectFactory& factory) {
  std::unique_lock guard(lock_);
  for (TComObjectFactory** link = &first_; *link != nullptr; link = &(*link)->Next) {
    if (*link == &factory) {
      *link = factory.Next;
      factory.Next = nullptr;
      return;
    }
  }
}

TComObjectFactory* TComClassManager::GetFactoryFromClassID(REFCLSID classId) {
  std::shared_lock guard(lock_);
  for (TComObjectFactory* factory = first_; factory != nullptr; factory = factory->Next)
    if (IsEqualCLSID(factory->ClassID(), classId)) return factory;
  return nullptr;
}

void TComClassManager::ForEachFactory(const std::function<void(TComObjectFactory&)>& visit) {
  std::unique_lock guard(lock_);
  for (TComObjectFactory* factory = first_; factory != nullptr; factory = factory->Next)
    visit(*factory);
}

TComServer::TComServer(HMODULE module)
    : module_(module), automationLibrary_(LoadLibraryW(Utf8ToOle("oleaut32.dll").c_str())) {}

TComServer::~TComServer() {
  typeLib_ = TComPtr<ITypeLib>();
  if (automationLibrary_ != nullptr) FreeLibrary(automationLibrary_);
}

void TComServer::CountObject(bool created) noexcept {
  if (created) {
    ++objectCount_;
  } else {
    --objectCount_;
  }
}

void TComServer::CountFactory(bool created) noexcept {
  if (created) {
    ++factoryCount_;
  } else {
    --factoryCount_;
  }
}

TOleString TComServer::ServerFileName() const {
  TOleString path(260, OLECHAR{0});
  while (true) {
    const DWORD length = GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) throw EOleSysError(E_FAIL);
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ITypeLib* TComServer::TypeLib() {
  if (!typeLib_) OleCheck(LoadTypeLib(ServerFileName().c_str(), typeLib_.Put()));
  return typeLib_.get();
}

std::string TComServer::ServerName() {
  if (!serverName_.empty()) return serverName_;
  TBstr name;
  OleCheck(TypeLib()->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr));
  return BstrToUtf8(name.get());
}

void TComServer::RegisterTypeLibrary() {
  // Not const: some Windows headers declare both strings as writable.
  TOleString path = ServerFileName();
  const auto slash = path.find_last_of(Utf8ToOle("\\/"));
  TOleString directory = slash == TOleString::npos ? TOleString() : path.substr(0, slash);
  OleCheck(RegisterTypeLib(TypeLib(), path.data(), directory.data()));
}

namespace {

LSTATUS KeyExists(const std::string& name) {
  HKEY key = nullptr;
  const LSTATUS status =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToOle(name).c_str(), 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

}  // namespace

bool TComServer::UnregisterTypeLibrary() {
  using UnRegisterTypeLibProc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  // The library that failed to load at start-up cannot vouch for anything being removed.
  if (automationLibrary_ == nullptr) return false;
  const auto unregister = reinterpret_cast<UnRegisterTypeLibProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(automationLibrary_, "UnRegisterTypeLib")));
  if (unregister == nullptr) return true;
  TLIBATTR* attributes = nullptr;
  OleCheck(TypeLib()->GetLibAttr(&attributes));
  const TLIBATTR copy = *attributes;
  TypeLib()->ReleaseTLibAttr(attributes);
  // Whether the library was registered at all does not matter; entries left behind do.
  const HRESULT result =
      unregister(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
  if (SUCCEEDED(result) || result == TYPE_E_LIBNOTREGISTERED) return true;
  // Runtimes answer a library that was never registered with different codes (Wine with
  // E_INVALIDARG, Windows with TYPE_E_REGISTRYACCESS): what counts is whether its keys are gone,
  // the version's and the library's own unless another version still lives under it.
  const std::string library = "TypeLib\\" + GUIDToString(copy.guid);
  const std::string version =
      std::to_string(copy.wMajorVerNum) + "." + std::to_string(copy.wMinorVerNum);
  if (KeyExists(library + "\\" + version) != ERROR_FILE_NOT_FOUND) return false;
  HKEY key = nullptr;
  const LSTATUS opened =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToOle(library).c_str(), 0, KEY_READ, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return true;
  if (opened != ERROR_SUCCESS) return false;
  WCHAR sub[256];
  DWORD length = 256;
  const bool otherVersions =
      RegEnumKeyExW(key, 0, sub, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  RegCloseKey(key);
  return otherVersions;
}

void TComServer::UpdateRegistry(bool doRegister) {
  bool libraryGone = true;
  if (doRegister) {
    RegisterTypeLibrary();
  } else {
    libraryGone = UnregisterTypeLibrary();
  }
  classManager_.ForEachFactory([&](TComObjectFactory& factory) {
    if (&factory.Server() == this && factory.Instancing() != TClassInstancing::ciInternal)
      factory.UpdateRegistry(doRegister);
  });
  // The class entries are removed even so; the failure is reported, not passed over.
  if (!libraryGone) throw EOleRegistrationError();
}

void CreateRegKey(const std::string& key, const std::string& valueName, const TOleString& data) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToOle(key).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                      nullptr, &handle, &disposition) != ERROR_SUCCESS)
    throw EOleRegistrationError();
  const TOleString name = Utf8ToOle(valueName);
  const LSTATUS status = RegSetValueExW(handle, valueName.empty() ? nullptr : name.c_str(), 0,
                                        REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>((data.size() + 1) * sizeof(OLECHAR)));
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) throw EOleRegistrationError();
}

bool DeleteRegKey(const std::string& key) noexcept {
  try {
    const LSTATUS status = RegDeleteKeyW(HKEY_CLASSES_ROOT, Utf8ToOle(key).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  } catch (...) {
    return false;
  }
}

std::string GUIDToString(REFGUID guid) {
  OLECHAR text[40];
  if (StringFromGUID2(guid, text, 40) == 0) throw EOleSysError(E_UNEXPECTED);
  return Utf16ToUtf8(text, 38);
}

}  // namespace quorvex

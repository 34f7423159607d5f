#include "component/com_server.h"

#include <mutex>

#include "component/class_factory.h"
#include "component/ole_errors.h"
#include "component/text_conversion.h"

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

void TComServer::UnregisterTypeLibrary() {
  using UnRegisterTypeLibProc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  if (automationLibrary_ == nullptr) return;
  const auto unregister = reinterpret_cast<UnRegisterTypeLibProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(automationLibrary_, "UnRegisterTypeLib")));
  if (unregister == nullptr) return;
  TLIBATTR* attributes = nullptr;
  OleCheck(TypeLib()->GetLibAttr(&attributes));
  const TLIBATTR copy = *attributes;
  TypeLib()->ReleaseTLibAttr(attributes);
  // Whether the library was registered at all does not matter: the result is not checked.
  unregister(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

void TComServer::UpdateRegistry(bool doRegister) {
  if (doRegister) {
    RegisterTypeLibrary();
  } else {
    UnregisterTypeLibrary();
  }
  classManager_.ForEachFactory([&](TComObjectFactory& factory) {
    if (&factory.Server() == this && factory.Instancing() != TClassInstancing::ciInternal)
      factory.UpdateRegistry(doRegister);
  });
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

void DeleteRegKey(const std::string& key) noexcept {
  try {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, Utf8ToOle(key).c_str());
  } catch (...) {
    // Passed over, like a key that is not there.
  }
}

std::string GUIDToString(REFGUID guid) {
  OLECHAR text[40];
  if (StringFromGUID2(guid, text, 40) == 0) throw EOleSysError(E_UNEXPECTED);
  return Utf16ToUtf8(text, 38);
}

}  // namespace quorvex

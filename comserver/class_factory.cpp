#include "comserver/class_factory.h"

#include <algorithm>
#include <cstdio>

#include "comserver/com_object.h"
#include "comserver/com_server.h"
#include "comserver/ole_errors.h"
#include "comserver/text_conversion.h"

namespace quorvex {

namespace {

const char* ThreadingModelText(TThreadingModel model) {
  switch (model) {
    case TThreadingModel::tmApartment:
      return "Apartment";
    case TThreadingModel::tmFree:
      return "Free";
    case TThreadingModel::tmBoth:
      return "Both";
    case TThreadingModel::tmNeutral:
      return "Neutral";
    case TThreadingModel::tmSingle:
      break;
  }
  return "";
}

std::string ClassKey(REFCLSID classId) {
  return "CLSID\\" + GUIDToString(classId);
}

std::string Formatted(const char* format, const std::string& className) {
  std::string text = format;
  text.replace(text.find("%s"), 2, className);
  return text;
}

// The name and help string of a type, as the type library gives them.
void ReadDocumentation(ITypeInfo* info, std::string& name, std::string& description) {
  TBstr nameText, docText;
  OleCheck(info->GetDocumentation(MEMBERID_NIL, nameText.Put(), docText.Put(), nullptr, nullptr));
  name = BstrToUtf8(nameText.get());
  description = BstrToUtf8(docText.get());
}

}  // namespace

TComObjectFactory::TComObjectFactory(TComServer& server, TObjectConstructor construct,
                                     REFCLSID classId, std::string className,
                                     std::string description, TClassInstancing instancing,
                                     TThreadingModel threadingModel)
    : server_(server),
      construct_(std::move(construct)),
      classId_(classId),
      className_(std::move(className)),
      description_(std::move(description)),
      instancing_(instancing),
      threadingModel_(threadingModel) {
  server_.ClassManager().AddFactory(*this);
}

TComObjectFactory::~TComObjectFactory() {
  server_.ClassManager().RemoveFactory(*this);
}

void TComObjectFactory::SetNames(std::string className, std::string description) {
  className_ = std::move(className);
  description_ = std::move(description);
}

std::string TComObjectFactory::ProgID() const {
  return className_.empty() ? std::string() : server_.ServerName() + "." + className_;
}

const IID& TComObjectFactory::ErrorIID() const noexcept {
  return GUID_NULL;
}

HRESULT TComObjectFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

// The factory lives as long as the module: its count only tells the server about clients.
ULONG TComObjectFactory::AddRef() {
  server_.CountFactory(true);
  return static_cast<ULONG>(server_.FactoryCount());
}

ULONG TComObjectFactory::Release() {
  server_.CountFactory(false);
  return static_cast<ULONG>(server_.FactoryCount());
}

HRESULT TComObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  std::unique_ptr<TComObject> instance;
  try {
    instance = construct_(*this, outer);
  } catch (...) {
    return E_UNEXPECTED;
  }
  if (!instance) return E_UNEXPECTED;
  const HRESULT result = instance->ObjQueryInterface(iid, object);
  // A successful query holds the first reference, which now owns the object.
  if (instance->RefCount() != 0) instance.release();
  return result;
}

HRESULT TComObjectFactory::LockServer(BOOL lock) {
  const HRESULT result = CoLockObjectExternal(this, lock, TRUE);
  server_.CountObject(lock != FALSE);
  return result;
}

void TComObjectFactory::UpdateRegistry(bool doRegister) {
  if (instancing_ == TClassInstancing::ciInternal) return;
  const std::string classKey = ClassKey(classId_);
  const std::string progId = ProgID();
  if (doRegister) {
    const TOleString description = Utf8ToOle(description_);
    TOleString path = server_.ServerFileName();
    if (path.find(OLECHAR{' '}) != TOleString::npos) {
      TOleString shortPath(path.size() + 1, OLECHAR{0});
      const DWORD length =
          GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
      if (length != 0 && length < shortPath.size()) path = shortPath.substr(0, length);
    }
    CreateRegKey(classKey, "", description);
    CreateRegKey(classKey + "\\InprocServer32", "", path);
    if (threadingModel_ != TThreadingModel::tmSingle && server_.IsInprocServer())
      CreateRegKey(classKey + "\\InprocServer32", "ThreadingModel",
                   Utf8ToOle(ThreadingModelText(threadingModel_)));
    CreateRegKey(progId, "", description);
    CreateRegKey(progId + "\\Clsid", "", Utf8ToOle(GUIDToString(classId_)));
    CreateRegKey(classKey + "\\ProgID", "", Utf8ToOle(progId));
  } else {
    // Every key is tried; one left behind makes the unregistration a failure, not a success.
    bool gone = DeleteRegKey(classKey + "\\ProgID");
    gone &= DeleteRegKey(progId + "\\Clsid");
    gone &= DeleteRegKey(progId);
    gone &= DeleteRegKey(classKey + "\\InprocServer32");
    gone &= DeleteRegKey(classKey);
    if (!gone) throw EOleRegistrationError();
  }
}

TTypedComObjectFactory::TTypedComObjectFactory(TComServer& server, TObjectConstructor construct,
                                               REFCLSID classId, const std::string& classTypeName,
                                               TClassInstancing instancing,
                                               TThreadingModel threadingModel)
    : TComObjectFactory(server, std::move(construct), classId, "", "", instancing, threadingModel) {
  if (FAILED(server.TypeLib()->GetTypeInfoOfGuid(classId, classInfo_.Put())))
    throw EOleError(Formatted("Type information missing for class %s", classTypeName));
  std::string name, description;
  ReadDocumentation(classInfo_.get(), name, description);
  SetNames(std::move(name), std::move(description));
}

void TTypedComObjectFactory::UpdateRegistry(bool doRegister) {
  const std::string classKey = ClassKey(ClassID());
  if (!doRegister) {
    bool gone = DeleteRegKey(classKey + "\\TypeLib");
    gone &= DeleteRegKey(classKey + "\\Version");
    TComObjectFactory::UpdateRegistry(false);
    if (!gone) throw EOleRegistrationError();
    return;
  }
  TComObjectFactory::UpdateRegistry(true);
  TLIBATTR* attributes = nullptr;
  OleCheck(Server().TypeLib()->GetLibAttr(&attributes));
  const TLIBATTR library = *attributes;
  Server().TypeLib()->ReleaseTLibAttr(attributes);
  char version[16];
  std::snprintf(version, sizeof version, "%d.%d", library.wMajorVerNum, library.wMinorVerNum);
  CreateRegKey(classKey + "\\Version", "", Utf8ToOle(version));
  CreateRegKey(classKey + "\\TypeLib", "", Utf8ToOle(GUIDToString(library.guid)));
}

TAutoObjectFactory::TAutoObjectFactory(TComServer& server, TObjectConstructor construct,
                                       REFCLSID classId, const std::string& classTypeName,
                                       const std::vector<IID>& implemented,
                                       TClassInstancing instancing, TThreadingModel threadingModel)
    : TTypedComObjectFactory(server, std::move(construct), classId, classTypeName, instancing,
                             threadingModel) {
  // The default interface of the class that is not an event source.
  TYPEATTR* classAttributes = nullptr;
  OleCheck(ClassInfo()->GetTypeAttr(&classAttributes));
  const WORD implementedCount = classAttributes->cImplTypes;
  ClassInfo()->ReleaseTypeAttr(classAttributes);
  for (UINT i = 0; i < implementedCount && !dispTypeInfo_; ++i) {
    INT flags = 0;
    HREFTYPE reference = 0;
    if (FAILED(ClassInfo()->GetImplTypeFlags(i, &flags)) ||
        (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != IMPLTYPEFLAG_FDEFAULT)
      continue;
    OleCheck(ClassInfo()->GetRefTypeOfImplType(i, &reference));
    OleCheck(ClassInfo()->GetRefTypeInfo(reference, dispTypeInfo_.Put()));
  }
  if (!dispTypeInfo_)
    throw EOleError(Formatted("Incorrect type information for class %s", classTypeName));
  TYPEATTR* attributes = nullptr;
  OleCheck(dispTypeInfo_->GetTypeAttr(&attributes));
  dispIntfIID_ = attributes->guid;
  dispTypeInfo_->ReleaseTypeAttr(attributes);
  if (std::none_of(implemented.begin(), implemented.end(),
                   [&](const IID& iid) { return IsEqualIID(iid, dispIntfIID_); }))
    throw EOleError(Formatted("Dispatch interface missing from class %s", classTypeName));
  errorIID_ = implemented.front();
}

}  // namespace quorvex

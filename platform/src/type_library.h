// ITypeLib and ITypeInfo built from an interface description (idl_model.h). A type library is
// one reference-counted object; its type descriptions share that count, so a type description
// keeps its library (and the libraries it imports) alive.
//
// A dual interface has two type descriptions: the dispatch view (TKIND_DISPATCH, what the
// library, its coclasses and GetTypeInfoOfGuid hand out), listing the IUnknown and IDispatch
// members followed by its own with their return values moved out of the parameter list, and
// the interface view (TKIND_INTERFACE, reached through GetRefTypeOfImplType(-1)), listing its
// own members at their function-table offsets. Invoke on either view calls through the
// function table.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/src/idl_model.h"

namespace platform_detail {

class TypeLibImpl;

struct FuncData {
  FUNCDESC desc{};
  std::vector<ELEMDESC> params;
  std::vector<std::unique_ptr<TYPEDESC>> nodes;
  std::vector<std::unique_ptr<PARAMDESCEX>> defaults;
  std::vector<std::u16string> names;  // the member, then its parameters
  std::u16string helpString;
  DWORD helpContext = 0;
};

class TypeInfoImpl final : public ITypeInfo {
 public:
  TypeInfoImpl(TypeLibImpl* lib, UINT index) : lib_(lib), index_(index) {}
  ~TypeInfoImpl();
  TypeInfoImpl(const TypeInfoImpl&) = delete;
  TypeInfoImpl& operator=(const TypeInfoImpl&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                     UINT* pcNames) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                          MEMBERID* pMemId) override;
  HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                        BSTR* pBstrName, WORD* pwOrdinal) override;
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                            PVOID* ppv) override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           PVOID* ppvObj) override;
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;

  // The automation type (VT_ value) that a parameter or result of this type travels as.
  HRESULT VariantTypeOf(const TYPEDESC& type, VARTYPE* vt);
  // The interface a VT_USERDEFINED reference names (through aliases and coclasses).
  HRESULT InterfaceOf(HREFTYPE href, GUID* iid);
  // The member with `memid` whose kind is one of `flags`, here or in a base interface.
  const FuncData* FindFunc(MEMBERID memid, WORD flags, TypeInfoImpl** owner);
  TypeInfoImpl* Target(HREFTYPE href);

  TYPEATTR attr{};
  std::u16string name, doc;
  DWORD helpContext = 0;
  std::vector<std::unique_ptr<FuncData>> funcs;
  // The dispatch view's descriptions as GetFuncDesc hands them out (see the header comment).
  std::vector<std::unique_ptr<FuncData>> shownFuncs;
  std::vector<std::pair<HREFTYPE, INT>> implTypes;
  std::vector<std::unique_ptr<TYPEDESC>> aliasNodes;
  TypeInfoImpl* base = nullptr;     // interfaces: the base interface
  TypeInfoImpl* partner = nullptr;  // dual interfaces: the other view
  HREFTYPE partnerRef = 0;
  bool dispatchOfDual = false;

 private:
  TypeLibImpl* lib_;
  UINT index_;
};

class TypeLibImpl final : public ITypeLib {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;
  UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return static_cast<UINT>(infos.size()); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                             DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                                     MEMBERID* rgMemId, USHORT* pcFound) override;
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR*) override {}

  TypeInfoImpl* FindType(std::u16string_view typeName);
  HREFTYPE AddTypeRef(TypeInfoImpl* target);

  TLIBATTR attr{};
  std::u16string name, doc, helpFile;
  DWORD helpContext = 0;
  std::vector<std::unique_ptr<TypeInfoImpl>> infos;     // by index
  std::vector<std::unique_ptr<TypeInfoImpl>> partners;  // interface views of dual interfaces
  std::vector<TypeInfoImpl*> refs;                      // HREFTYPE / 4 -> type
  std::vector<quorvex::TComPtr<ITypeLib>> imports;
  std::vector<TypeLibImpl*> importImpls;

 private:
  std::atomic<ULONG> refs_{1};
};

// Resolves an importlib("name") of a description; returns a library with a reference.
using ImportLoader = HRESULT (*)(std::u16string_view name, TypeLibImpl** lib);

// Builds the library; TYPE_E_... codes for descriptions that do not hold together.
// Every library but the standard one itself also sees IUnknown and IDispatch of the standard
// library (`importStandard`).
HRESULT BuildTypeLib(const idl::Library& description, ImportLoader loadImport, TypeLibImpl** result,
                     std::string* error, bool importStandard = true);

// The platform's standard OLE library (stdole2.tlb): IUnknown, IDispatch, OLE_COLOR.
TypeLibImpl* StandardOleLibrary();

}  // namespace platform_detail

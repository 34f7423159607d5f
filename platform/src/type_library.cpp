#include "platform/src/type_library.h"

#include <cstring>
#include <map>
#include <new>

#include "platform/src/boundary_guard.h"
#include "platform/src/text.h"
#include "platform/src/variant_type.h"

namespace platform_detail {

namespace {

constexpr WORD kPointerSize = sizeof(void*);
constexpr MEMBERID kAutoIdBase = 0x60000000;
// A dispatch interface's function table: IUnknown's three members and IDispatch's four.
constexpr WORD kDispatchSlots = 7;
// Function-table offsets are SHORTs in FUNCDESC.
constexpr size_t kMaxVtableOffset = 0x7FFF;
// Deeper base chains than this are taken for a circle.
constexpr int kMaxBaseDepth = 64;
// Aliases and coclasses followed to reach an interface.
constexpr int kMaxTargetDepth = 16;
constexpr WORD kHresultSize = sizeof(HRESULT);

constexpr platform_detail::BoundaryGuard<HRESULT, E_OUTOFMEMORY> Guarded;

HRESULT SetText(BSTR* out, const std::u16string& text, bool nullWhenEmpty = false) {
  if (out == nullptr) return S_OK;
  *out = nullptr;
  if (nullWhenEmpty && text.empty()) return S_OK;
  *out = MakeBstr(text);
  return S_OK;
}

class BuildError : public std::runtime_error {
 public:
  BuildError(HRESULT hr, const std::string& message) : std::runtime_error(message), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

[[noreturn]] void Fail(int line, const std::string& message) {
  throw BuildError(TYPE_E_INVDATAREAD, "line " + std::to_string(line) + ": " + message);
}

// Size and alignment of a value of a simple type, for TYPEATTR of aliases: what a safe-array
// element of the type takes, and a pointer for everything that is held by reference.
WORD SizeOf(VARTYPE vt) {
  if (vt == VT_HRESULT) return kHresultSize;
  const ULONG size = platform_detail::ArrayElementSize(vt);
  return static_cast<WORD>(size != 0 ? size : kPointerSize);
}

class Builder {
 public:
  Builder(const idl::Library& d, ImportLoader loader, TypeLibImpl* lib, bool importStandard)
      : d_(d), loader_(loader), lib_(lib), importStandard_(importStandard) {}

  void Build() {
    lib_->name = d_.name;
    lib_->doc = d_.attributes.helpString;
    lib_->helpFile = d_.attributes.helpFile;
    lib_->helpContext = d_.attributes.helpContext;
    lib_->attr.guid = *d_.attributes.uuid;
    lib_->attr.lcid = d_.attributes.lcid;
    lib_->attr.syskind = SYS_WIN64;
    lib_->attr.wMajorVerNum = d_.attributes.majorVersion;
    lib_->attr.wMinorVerNum = d_.attributes.minorVersion;
    lib_->attr.wLibFlags = d_.attributes.libFlags;
    for (const std::u16string& import : d_.importLibs) {
      TypeLibImpl* imported = nullptr;
      const HRESULT hr = loader_(import, &imported);
      if (FAILED(hr)) throw BuildError(hr, "cannot load imported library " + ToUtf8(import));
      lib_->imports.emplace_back(imported);
      lib_->importImpls.push_back(imported);
    }
    // The standard library is always at hand for IUnknown and IDispatch.
    if (importStandard_) {
      TypeLibImpl* stdole = StandardOleLibrary();
      if (stdole == nullptr) throw BuildError(TYPE_E_CANTLOADLIBRARY, "no standard library");
      stdole->AddRef();
      lib_->imports.emplace_back(stdole);
      lib_->importImpls.push_back(stdole);
    }
    // Every name first, so that members may refer to types declared later.
    for (const idl::Library::Entry& e : d_.order) {
      auto info = std::make_unique<TypeInfoImpl>(lib_, static_cast<UINT>(lib_->infos.size()));
      std::u16string typeName;
      int line = 0;
      switch (e.kind) {
        case idl::Library::Entry::kInterface:
          typeName = d_.interfaces[e.index].name;
          line = d_.interfaces[e.index].line;
          break;
        case idl::Library::Entry::kCoclass:
          typeName = d_.coclasses[e.index].name;
          line = d_.coclasses[e.index].line;
          break;
        case idl::Library::Entry::kAlias:
          typeName = d_.aliases[e.index].name;
          line = d_.aliases[e.index].line;
          break;
      }
      if (lib_->FindType(typeName) != nullptr) Fail(line, "duplicate type " + ToUtf8(typeName));
      info->name = typeName;
      lib_->infos.push_back(std::move(info));
    }
    for (size_t i = 0; i < d_.order.size(); ++i) {
      const idl::Library::Entry& e = d_.order[i];
      if (e.kind == idl::Library::Entry::kAlias) BuildAlias(d_.aliases[e.index], *lib_->infos[i]);
    }
    built_.assign(d_.order.size(), false);
    for (size_t i = 0; i < d_.order.size(); ++i) {
      const idl::Library::Entry& e = d_.order[i];
      if (e.kind == idl::Library::Entry::kInterface) BuildInterface(i, 0);
    }
    for (size_t i = 0; i < d_.order.size(); ++i) {
      const idl::Library::Entry& e = d_.order[i];
      if (e.kind == idl::Library::Entry::kCoclass)
        BuildCoclass(d_.coclasses[e.index], *lib_->infos[i]);
    }
  }

 private:
  // A type by name: this library first, then the imported ones.
  TypeInfoImpl* Lookup(const std::u16string& typeName) {
    if (TypeInfoImpl* local = lib_->FindType(typeName)) return local;
    for (TypeLibImpl* imported : lib_->importImpls)
      if (TypeInfoImpl* found = imported->FindType(typeName)) return found;
    return nullptr;
  }

  size_t LocalIndex(const std::u16string& typeName) {
    for (size_t i = 0; i < lib_->infos.size(); ++i)
      if (lib_->infos[i]->name == typeName) return i;
    return SIZE_MAX;
  }

  void InitAttr(TypeInfoImpl& info, const idl::Attributes& a, TYPEKIND kind) {
    info.attr.guid = a.uuid.value_or(GUID_NULL);
    info.attr.lcid = d_.attributes.lcid;
    info.attr.memidConstructor = MEMBERID_NIL;
    info.attr.memidDestructor = MEMBERID_NIL;
    info.attr.typekind = kind;
    info.attr.wMajorVerNum = a.majorVersion;
    info.attr.wMinorVerNum = a.minorVersion;
    info.attr.cbSizeInstance = kPointerSize;
    info.attr.cbAlignment = kPointerSize;
    info.doc = a.helpString;
    info.helpContext = a.helpContext;
  }

  // Fills `out` for a written type. Pointers to IUnknown and IDispatch become VT_UNKNOWN and
  // VT_DISPATCH, as the description compiler writes them.
  void MakeType(const idl::Type& t, std::vector<std::unique_ptr<TYPEDESC>>& nodes, TYPEDESC* out,
                int line) {
    *out = TYPEDESC{};
    switch (t.vt) {
      case VT_PTR: {
        const idl::Type& element = *t.element;
        if (element.vt == VT_UNKNOWN || element.vt == VT_DISPATCH) {
          out->vt = element.vt;
          return;
        }
        nodes.push_back(std::make_unique<TYPEDESC>());
        TYPEDESC* node = nodes.back().get();
        MakeType(element, nodes, node, line);
        out->vt = VT_PTR;
        out->lptdesc = node;
        return;
      }
      case VT_SAFEARRAY: {
        nodes.push_back(std::make_unique<TYPEDESC>());
        TYPEDESC* node = nodes.back().get();
        MakeType(*t.element, nodes, node, line);
        out->vt = VT_SAFEARRAY;
        out->lptdesc = node;
        return;
      }
      case VT_USERDEFINED: {
        const size_t local = LocalIndex(t.name);
        if (local != SIZE_MAX && d_.order[local].kind == idl::Library::Entry::kAlias &&
            !d_.aliases[d_.order[local].index].attributes.isPublic) {
          // A private alias is replaced by what it names.
          MakeType(d_.aliases[d_.order[local].index].target, nodes, out, line);
          return;
        }
        TypeInfoImpl* target = Lookup(t.name);
        if (target == nullptr) Fail(line, "unknown type " + ToUtf8(t.name));
        out->vt = VT_USERDEFINED;
        out->hreftype = lib_->AddTypeRef(target);
        return;
      }
      case VT_UNKNOWN:
      case VT_DISPATCH:
        Fail(line, "an interface is passed by pointer");
      default:
        out->vt = t.vt;
        return;
    }
  }

  void BuildAlias(const idl::Alias& a, TypeInfoImpl& info) {
    InitAttr(info, a.attributes, TKIND_ALIAS);
    MakeType(a.target, info.aliasNodes, &info.attr.tdescAlias, a.line);
    info.attr.cbSizeInstance = SizeOf(info.attr.tdescAlias.vt);
    info.attr.cbAlignment = info.attr.cbSizeInstance > 8 ? 8 : info.attr.cbSizeInstance;
  }

  std::unique_ptr<FuncData> MakeFunc(const idl::Method& m, MEMBERID memid, SHORT oVft) {
    auto f = std::make_unique<FuncData>();
    f->desc.memid = memid;
    f->desc.funckind = FUNC_PUREVIRTUAL;
    f->desc.invkind = m.invkind;
    f->desc.callconv = CC_STDCALL;
    f->desc.oVft = oVft;
    f->desc.wFuncFlags = m.funcFlags;
    f->names.push_back(m.name);
    f->helpString = m.helpString;
    f->helpContext = m.helpContext;
    MakeType(m.result, f->nodes, &f->desc.elemdescFunc.tdesc, m.line);
    f->params.resize(m.params.size());
    SHORT optional = 0;
    for (size_t i = 0; i < m.params.size(); ++i) {
      const idl::Param& p = m.params[i];
      MakeType(p.type, f->nodes, &f->params[i].tdesc, m.line);
      f->params[i].paramdesc.wParamFlags = p.flags;
      if ((p.flags & PARAMFLAG_FRETVAL) &&
          (i + 1 != m.params.size() || f->params[i].tdesc.vt != VT_PTR))
        Fail(m.line, "a retval parameter is the last one and a pointer");
      if (p.defaultValue) {
        auto ex = std::make_unique<PARAMDESCEX>();
        ex->cBytes = sizeof(PARAMDESCEX);
        VariantInit(&ex->varDefaultValue);
        const idl::DefaultValue& v = *p.defaultValue;
        if (v.kind == idl::DefaultValue::kText) {
          V_VT(&ex->varDefaultValue) = VT_BSTR;
          V_BSTR(&ex->varDefaultValue) = MakeBstr(v.text);
        } else if (v.kind == idl::DefaultValue::kReal) {
          V_VT(&ex->varDefaultValue) = VT_R8;
          V_R8(&ex->varDefaultValue) = v.real;
        } else {
          V_VT(&ex->varDefaultValue) = VT_I4;
          V_I4(&ex->varDefaultValue) = static_cast<LONG>(v.integer);
        }
        f->params[i].paramdesc.pparamdescex = ex.get();
        f->defaults.push_back(std::move(ex));
      } else if (p.flags & PARAMFLAG_FOPT) {
        ++optional;
      }
      f->names.push_back(p.name);
    }
    f->desc.cParams = static_cast<SHORT>(m.params.size());
    f->desc.cParamsOpt = m.vararg ? -1 : optional;
    f->desc.lprgelemdescParam = f->params.empty() ? nullptr : f->params.data();
    return f;
  }

  // Deep copy of a member description from another type, with its references re-made here.
  std::unique_ptr<FuncData> CopyFunc(const FuncData& from, TypeInfoImpl& owner) {
    auto f = std::make_unique<FuncData>();
    f->desc = from.desc;
    f->names = from.names;
    f->helpString = from.helpString;
    f->helpContext = from.helpContext;
    CopyType(from.desc.elemdescFunc.tdesc, owner, f->nodes, &f->desc.elemdescFunc.tdesc);
    f->params = from.params;
    for (size_t i = 0; i < from.params.size(); ++i) {
      CopyType(from.params[i].tdesc, owner, f->nodes, &f->params[i].tdesc);
      if (from.params[i].paramdesc.pparamdescex != nullptr) {
        auto ex = std::make_unique<PARAMDESCEX>();
        ex->cBytes = sizeof(PARAMDESCEX);
        VariantInit(&ex->varDefaultValue);
        if (FAILED(VariantCopy(&ex->varDefaultValue,
                               &from.params[i].paramdesc.pparamdescex->varDefaultValue)))
          throw std::bad_alloc();
        f->params[i].paramdesc.pparamdescex = ex.get();
        f->defaults.push_back(std::move(ex));
      }
    }
    f->desc.lprgelemdescParam = f->params.empty() ? nullptr : f->params.data();
    return f;
  }

  void CopyType(const TYPEDESC& from, TypeInfoImpl& owner,
                std::vector<std::unique_ptr<TYPEDESC>>& nodes, TYPEDESC* out) {
    *out = from;
    if (from.vt == VT_PTR || from.vt == VT_SAFEARRAY) {
      nodes.push_back(std::make_unique<TYPEDESC>());
      TYPEDESC* node = nodes.back().get();
      CopyType(*from.lptdesc, owner, nodes, node);
      out->lptdesc = node;
    } else if (from.vt == VT_USERDEFINED) {
      out->hreftype = lib_->AddTypeRef(owner.Target(from.hreftype));
    }
  }

  void BuildInterface(size_t index, int depth) {
    if (built_[index]) return;
    if (depth > kMaxBaseDepth) Fail(0, "interfaces derive from each other in a circle");
    const idl::Interface& iface = d_.interfaces[d_.order[index].index];
    TypeInfoImpl& info = *lib_->infos[index];
    TypeInfoImpl* base = nullptr;
    if (!iface.base.empty()) {
      const size_t localBase = LocalIndex(iface.base);
      if (localBase != SIZE_MAX) {
        if (d_.order[localBase].kind != idl::Library::Entry::kInterface)
          Fail(iface.line, "the base of " + ToUtf8(iface.name) + " is not an interface");
        BuildInterface(localBase, depth + 1);
        base = lib_->infos[localBase].get();
        if (base->dispatchOfDual) base = base->partner;
      } else {
        base = Lookup(iface.base);
        if (base == nullptr) Fail(iface.line, "unknown base interface " + ToUtf8(iface.base));
        if (base->dispatchOfDual) base = base->partner;
        if (base->attr.typekind != TKIND_INTERFACE)
          Fail(iface.line, "the base of " + ToUtf8(iface.name) + " is not an interface");
      }
    }
    built_[index] = true;
    const bool dual = iface.attributes.dual;
    const WORD baseSlots = base != nullptr ? base->attr.cbSizeVft / kPointerSize : 0;
    const bool dispatchable =
        base != nullptr &&
        (base->attr.guid == IID_IDispatch || (base->attr.wTypeFlags & TYPEFLAG_FDISPATCHABLE) != 0);
    if (dual && !dispatchable) Fail(iface.line, "a dual interface derives from IDispatch");
    int inheritDepth = 0;
    for (TypeInfoImpl* b = base; b != nullptr; b = b->base) ++inheritDepth;

    // The interface view: own members at their function-table offsets.
    auto view = std::make_unique<TypeInfoImpl>(lib_, static_cast<UINT>(index));
    TypeInfoImpl& vtbl = dual ? *view : info;
    vtbl.name = iface.name;
    InitAttr(vtbl, iface.attributes, TKIND_INTERFACE);
    vtbl.attr.wTypeFlags = iface.attributes.typeFlags;
    if (dispatchable) vtbl.attr.wTypeFlags |= TYPEFLAG_FDISPATCHABLE;
    vtbl.base = base;
    if (base != nullptr) vtbl.implTypes.emplace_back(lib_->AddTypeRef(base), 0);
    std::map<std::pair<std::u16string, int>, bool> seen;
    for (size_t i = 0; i < iface.methods.size(); ++i) {
      const idl::Method& m = iface.methods[i];
      const MEMBERID memid =
          m.id.value_or(kAutoIdBase | (inheritDepth << 16) | static_cast<MEMBERID>(i));
      if (!seen.emplace(std::make_pair(Folded(m.name), static_cast<int>(m.invkind)), true).second)
        Fail(m.line, "duplicate member " + ToUtf8(m.name));
      for (const auto& other : vtbl.funcs)
        if (other->desc.memid == memid && other->desc.invkind == m.invkind)
          Fail(m.line, "duplicate id for " + ToUtf8(m.name));
      const size_t slot = baseSlots + i;
      if (slot * kPointerSize > kMaxVtableOffset) Fail(m.line, "too many members");
      vtbl.funcs.push_back(MakeFunc(m, memid, static_cast<SHORT>(slot * kPointerSize)));
    }
    vtbl.attr.cFuncs = static_cast<WORD>(vtbl.funcs.size());
    vtbl.attr.cImplTypes = static_cast<WORD>(vtbl.implTypes.size());
    vtbl.attr.cbSizeVft = static_cast<WORD>((baseSlots + iface.methods.size()) * kPointerSize);
    if (!dual) return;

    // The dispatch view: IUnknown and IDispatch members first, results out of the parameters.
    info.name = iface.name;
    InitAttr(info, iface.attributes, TKIND_DISPATCH);
    info.attr.wTypeFlags = (iface.attributes.typeFlags & ~TYPEFLAG_FOLEAUTOMATION) |
                           TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FDUAL;
    info.dispatchOfDual = true;
    TypeInfoImpl* dispatch = Lookup(u"IDispatch");
    if (dispatch == nullptr) Fail(iface.line, "IDispatch is not known");
    if (dispatch->dispatchOfDual) dispatch = dispatch->partner;
    info.implTypes.emplace_back(lib_->AddTypeRef(dispatch), 0);
    std::vector<TypeInfoImpl*> chain;
    for (TypeInfoImpl* b = base; b != nullptr; b = b->base) chain.insert(chain.begin(), b);
    chain.push_back(view.get());
    for (TypeInfoImpl* level : chain) {
      for (const auto& f : level->funcs) {
        info.funcs.push_back(CopyFunc(*f, *level));
        info.funcs.back()->desc.funckind = FUNC_DISPATCH;
        auto shown = CopyFunc(*f, *level);
        ShowAsDispatch(*shown);
        info.shownFuncs.push_back(std::move(shown));
      }
    }
    info.attr.cFuncs = static_cast<WORD>(info.funcs.size());
    info.attr.cImplTypes = 1;
    info.attr.cbSizeVft = kDispatchSlots * kPointerSize;
    info.partner = view.get();
    view->partner = &info;
    info.partnerRef = lib_->AddTypeRef(view.get());
    lib_->partners.push_back(std::move(view));
  }

  // A dispatch member as clients see it: the retval parameter becomes the result.
  static void ShowAsDispatch(FuncData& f) {
    f.desc.funckind = FUNC_DISPATCH;
    if (!f.params.empty() && (f.params.back().paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
      const TYPEDESC& pointer = f.params.back().tdesc;
      f.desc.elemdescFunc.tdesc = pointer.vt == VT_PTR ? *pointer.lptdesc : pointer;
      f.desc.elemdescFunc.paramdesc = PARAMDESC{};
      f.params.pop_back();
      f.desc.cParams = static_cast<SHORT>(f.params.size());
      if (f.names.size() > f.params.size() + 1) f.names.resize(f.params.size() + 1);
    } else if (f.desc.elemdescFunc.tdesc.vt == VT_HRESULT) {
      f.desc.elemdescFunc.tdesc.vt = VT_VOID;
    }
    f.desc.lprgelemdescParam = f.params.empty() ? nullptr : f.params.data();
  }

  void BuildCoclass(const idl::Coclass& c, TypeInfoImpl& info) {
    InitAttr(info, c.attributes, TKIND_COCLASS);
    info.attr.wTypeFlags = c.attributes.typeFlags;
    if (!c.attributes.noncreatable) info.attr.wTypeFlags |= TYPEFLAG_FCANCREATE;
    for (const idl::CoclassMember& member : c.interfaces) {
      TypeInfoImpl* target = Lookup(member.interfaceName);
      if (target == nullptr ||
          (target->attr.typekind != TKIND_INTERFACE && target->attr.typekind != TKIND_DISPATCH))
        Fail(c.line, "unknown interface " + ToUtf8(member.interfaceName));
      info.implTypes.emplace_back(lib_->AddTypeRef(target), member.implFlags);
    }
    info.attr.cImplTypes = static_cast<WORD>(info.implTypes.size());
  }

  const idl::Library& d_;
  ImportLoader loader_;
  TypeLibImpl* lib_;
  bool importStandard_;
  std::vector<bool> built_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TypeLibImpl

HRESULT TypeLibImpl::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeLib) {
    *ppv = static_cast<ITypeLib*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeLibImpl::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT TypeLibImpl::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  if (index >= infos.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppTInfo = infos[index].get();
  AddRef();
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
  if (pTKind == nullptr) return E_INVALIDARG;
  if (index >= infos.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pTKind = infos[index]->attr.typekind;
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
  if (ppTinfo == nullptr) return E_INVALIDARG;
  *ppTinfo = nullptr;
  for (const auto& info : infos) {
    if (info->attr.guid == guid && info->attr.guid != GUID_NULL) {
      *ppTinfo = info.get();
      AddRef();
      return S_OK;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibImpl::GetLibAttr(TLIBATTR** ppTLibAttr) {
  if (ppTLibAttr == nullptr) return E_INVALIDARG;
  *ppTLibAttr = &attr;
  return S_OK;
}

HRESULT TypeLibImpl::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeLibImpl::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                      DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  if (index < -1 || (index >= 0 && static_cast<size_t>(index) >= infos.size()))
    return TYPE_E_ELEMENTNOTFOUND;
  if (index >= 0)
    return infos[index]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString, pdwHelpContext,
                                          pBstrHelpFile);
  return Guarded([&] {
    SetText(pBstrName, name);
    SetText(pBstrDocString, doc, true);
    if (pdwHelpContext != nullptr) *pdwHelpContext = helpContext;
    SetText(pBstrHelpFile, helpFile, true);
    return S_OK;
  });
}

HRESULT TypeLibImpl::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
  if (szNameBuf == nullptr || pfName == nullptr) return E_INVALIDARG;
  const std::u16string_view wanted = WideView(szNameBuf);
  *pfName = FALSE;
  auto matches = [&](const std::u16string& candidate) {
    if (!EqualsIgnoreCase(candidate, wanted)) return false;
    std::copy(candidate.begin(), candidate.end(), szNameBuf);  // the library's spelling
    *pfName = TRUE;
    return true;
  };
  for (const auto& info : infos) {
    if (matches(info->name)) return S_OK;
    for (const auto& f : info->funcs)
      for (const auto& n : f->names)
        if (!n.empty() && matches(n)) return S_OK;
  }
  return S_OK;
}

HRESULT TypeLibImpl::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                              USHORT* pcFound) {
  if (szNameBuf == nullptr || ppTInfo == nullptr || rgMemId == nullptr || pcFound == nullptr)
    return E_INVALIDARG;
  const std::u16string_view wanted = WideView(szNameBuf);
  USHORT found = 0;
  for (const auto& info : infos) {
    if (found >= *pcFound) break;
    MEMBERID memid = MEMBERID_NIL;
    bool hit = EqualsIgnoreCase(info->name, wanted);
    for (size_t i = 0; !hit && i < info->funcs.size(); ++i) {
      if (EqualsIgnoreCase(info->funcs[i]->names[0], wanted)) {
        hit = true;
        memid = info->funcs[i]->desc.memid;
      }
    }
    if (!hit) continue;
    ppTInfo[found] = info.get();
    AddRef();
    rgMemId[found] = memid;
    ++found;
  }
  *pcFound = found;
  return S_OK;
}

TypeInfoImpl* TypeLibImpl::FindType(std::u16string_view typeName) {
  for (const auto& info : infos)
    if (info->name == typeName) return info.get();
  return nullptr;
}

HREFTYPE TypeLibImpl::AddTypeRef(TypeInfoImpl* target) {
  for (size_t i = 0; i < refs.size(); ++i)
    if (refs[i] == target) return static_cast<HREFTYPE>(i * 4);
  refs.push_back(target);
  return static_cast<HREFTYPE>((refs.size() - 1) * 4);
}

// ---------------------------------------------------------------------------------------------
// TypeInfoImpl

TypeInfoImpl::~TypeInfoImpl() {
  for (auto* list : {&funcs, &shownFuncs})
    for (auto& f : *list)
      for (auto& ex : f->defaults) VariantClear(&ex->varDefaultValue);
}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
    *ppv = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG TypeInfoImpl::AddRef() {
  return lib_->AddRef();
}

ULONG TypeInfoImpl::Release() {
  return lib_->Release();
}

HRESULT TypeInfoImpl::GetTypeAttr(TYPEATTR** ppTypeAttr) {
  if (ppTypeAttr == nullptr) return E_INVALIDARG;
  *ppTypeAttr = &attr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetTypeComp(ITypeComp** ppTComp) {
  if (ppTComp != nullptr) *ppTComp = nullptr;
  return E_NOTIMPL;
}

HRESULT TypeInfoImpl::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
  if (ppFuncDesc == nullptr) return E_INVALIDARG;
  *ppFuncDesc = nullptr;
  const auto& list = dispatchOfDual ? shownFuncs : funcs;
  if (index >= list.size()) return TYPE_E_ELEMENTNOTFOUND;
  *ppFuncDesc = &list[index]->desc;
  return S_OK;
}

HRESULT TypeInfoImpl::GetVarDesc(UINT, VARDESC** ppVarDesc) {
  if (ppVarDesc == nullptr) return E_INVALIDARG;
  *ppVarDesc = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;  // no type here has variables
}

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
  if (pcNames == nullptr) return E_INVALIDARG;
  *pcNames = 0;
  const auto& list = dispatchOfDual ? shownFuncs : funcs;
  for (const auto& f : list) {
    if (f->desc.memid != memid) continue;
    return Guarded([&] {
      UINT count = 0;
      for (const std::u16string& n : f->names) {
        if (count >= cMaxNames) break;
        if (n.empty() && count > 0) break;  // unnamed parameters end the list
        rgBstrNames[count++] = MakeBstr(n);
      }
      *pcNames = count;
      return S_OK;
    });
  }
  if (base != nullptr && attr.typekind == TKIND_INTERFACE)
    return base->GetNames(memid, rgBstrNames, cMaxNames, pcNames);
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoImpl::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
  if (pRefType == nullptr) return E_INVALIDARG;
  if (index == static_cast<UINT>(-1)) {
    if (!dispatchOfDual) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = partnerRef;
    return S_OK;
  }
  if (index >= implTypes.size()) return TYPE_E_ELEMENTNOTFOUND;
  *pRefType = implTypes[index].first;
  return S_OK;
}

HRESULT TypeInfoImpl::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
  if (pImplTypeFlags == nullptr) return E_INVALIDARG;
  if (index >= implTypes.size()) {
    *pImplTypeFlags = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  *pImplTypeFlags = implTypes[index].second;
  return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
  if (rgszNames == nullptr || pMemId == nullptr) return E_INVALIDARG;
  if (cNames == 0) return S_OK;
  for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
  const std::u16string_view member = WideView(rgszNames[0]);
  for (TypeInfoImpl* level = this; level != nullptr; level = level->base) {
    for (const auto& f : level->funcs) {
      if (!EqualsIgnoreCase(f->names[0], member)) continue;
      pMemId[0] = f->desc.memid;
      HRESULT hr = S_OK;
      for (UINT i = 1; i < cNames; ++i) {
        const std::u16string_view param = WideView(rgszNames[i]);
        for (size_t p = 1; p < f->names.size(); ++p)
          if (!f->names[p].empty() && EqualsIgnoreCase(f->names[p], param))
            pMemId[i] = static_cast<MEMBERID>(p - 1);
        if (pMemId[i] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
      }
      return hr;
    }
    if (level->attr.typekind != TKIND_INTERFACE) break;  // the dispatch view lists all
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                       DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
  return Guarded([&]() -> HRESULT {
    if (memid == MEMBERID_NIL) {
      SetText(pBstrName, name);
      SetText(pBstrDocString, doc, true);
      if (pdwHelpContext != nullptr) *pdwHelpContext = helpContext;
      SetText(pBstrHelpFile, lib_->helpFile, true);
      return S_OK;
    }
    for (TypeInfoImpl* level = this; level != nullptr; level = level->base) {
      for (const auto& f : level->funcs) {
        if (f->desc.memid != memid) continue;
        SetText(pBstrName, f->names[0]);
        SetText(pBstrDocString, f->helpString, true);
        if (pdwHelpContext != nullptr) *pdwHelpContext = f->helpContext;
        SetText(pBstrHelpFile, lib_->helpFile, true);
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  });
}

HRESULT TypeInfoImpl::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* pBstrDllName, BSTR* pBstrName,
                                  WORD* pwOrdinal) {
  if (pBstrDllName != nullptr) *pBstrDllName = nullptr;
  if (pBstrName != nullptr) *pBstrName = nullptr;
  if (pwOrdinal != nullptr) *pwOrdinal = 0;
  return TYPE_E_BADMODULEKIND;  // there are no module types
}

TypeInfoImpl* TypeInfoImpl::Target(HREFTYPE href) {
  if (href % 4 != 0 || href / 4 >= lib_->refs.size()) return nullptr;
  return lib_->refs[href / 4];
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
  if (ppTInfo == nullptr) return E_INVALIDARG;
  *ppTInfo = nullptr;
  TypeInfoImpl* target = nullptr;
  if (hRefType == static_cast<HREFTYPE>(-1) || hRefType == static_cast<HREFTYPE>(-2)) {
    if (partner == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    target = partner;
  } else {
    target = Target(hRefType);
  }
  if (target == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  target->AddRef();
  *ppTInfo = target;
  return S_OK;
}

HRESULT TypeInfoImpl::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
  if (ppv != nullptr) *ppv = nullptr;
  return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoImpl::CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) {
  if (ppvObj == nullptr) return E_INVALIDARG;
  *ppvObj = nullptr;
  if (attr.typekind != TKIND_COCLASS) return TYPE_E_BADMODULEKIND;
  return CoCreateInstance(attr.guid, pUnkOuter, CLSCTX_INPROC_SERVER, riid, ppvObj);
}

HRESULT TypeInfoImpl::GetMops(MEMBERID, BSTR* pBstrMops) {
  if (pBstrMops != nullptr) *pBstrMops = nullptr;
  return S_OK;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
  if (ppTLib != nullptr) {
    *ppTLib = lib_;
    lib_->AddRef();
  }
  if (pIndex != nullptr) *pIndex = index_;
  return S_OK;
}

void TypeInfoImpl::ReleaseTypeAttr(TYPEATTR*) {}
void TypeInfoImpl::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfoImpl::ReleaseVarDesc(VARDESC*) {}

HRESULT TypeInfoImpl::VariantTypeOf(const TYPEDESC& type, VARTYPE* vt) {
  const TYPEDESC* t = &type;
  VARTYPE flags = 0;
  if (t->vt == VT_PTR) {
    const TYPEDESC* inner = t->lptdesc;
    // A pointer to an interface travels as the interface; one more level is by reference.
    const TYPEDESC* named = inner->vt == VT_PTR ? inner->lptdesc : inner;
    if (named->vt == VT_USERDEFINED) {
      TypeInfoImpl* target = Target(named->hreftype);
      if (target == nullptr) return TYPE_E_ELEMENTNOTFOUND;
      const TYPEKIND kind = target->attr.typekind;
      if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH || kind == TKIND_COCLASS) {
        const VARTYPE object =
            (kind == TKIND_INTERFACE && !(target->attr.wTypeFlags & TYPEFLAG_FDISPATCHABLE))
                ? VT_UNKNOWN
                : VT_DISPATCH;
        *vt = object | (inner->vt == VT_PTR ? VT_BYREF : 0);
        return S_OK;
      }
    }
    flags = VT_BYREF;
    t = inner;
  }
  switch (t->vt) {
    case VT_HRESULT:
      *vt = flags | VT_ERROR;
      return S_OK;
    case VT_INT:
      *vt = flags | VT_I4;
      return S_OK;
    case VT_UINT:
      *vt = flags | VT_UI4;
      return S_OK;
    case VT_VOID:
    case VT_CARRAY:
    case VT_PTR:
    case VT_LPSTR:
    case VT_LPWSTR:
      return DISP_E_BADVARTYPE;
    case VT_SAFEARRAY: {
      VARTYPE element = 0;
      const HRESULT hr = VariantTypeOf(*t->lptdesc, &element);
      if (FAILED(hr)) return hr;
      if (element & (VT_BYREF | VT_ARRAY)) return DISP_E_BADVARTYPE;
      *vt = flags | VT_ARRAY | element;
      return S_OK;
    }
    case VT_USERDEFINED: {
      TypeInfoImpl* target = Target(t->hreftype);
      if (target == nullptr) return TYPE_E_ELEMENTNOTFOUND;
      switch (target->attr.typekind) {
        case TKIND_ENUM:
          *vt = flags | VT_I4;
          return S_OK;
        case TKIND_ALIAS: {
          VARTYPE aliased = 0;
          const HRESULT hr = target->VariantTypeOf(target->attr.tdescAlias, &aliased);
          if (FAILED(hr)) return hr;
          if ((aliased & VT_BYREF) && flags) return DISP_E_BADVARTYPE;
          *vt = flags | aliased;
          return S_OK;
        }
        case TKIND_INTERFACE:
          *vt = flags |
                ((target->attr.wTypeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN);
          return S_OK;
        case TKIND_DISPATCH:
        case TKIND_COCLASS:
          *vt = flags | VT_DISPATCH;
          return S_OK;
        default:
          return E_NOTIMPL;
      }
    }
    default:
      *vt = flags | t->vt;
      return S_OK;
  }
}

HRESULT TypeInfoImpl::InterfaceOf(HREFTYPE href, GUID* iid) {
  TypeInfoImpl* target = Target(href);
  for (int depth = 0; target != nullptr && depth < kMaxTargetDepth; ++depth) {
    switch (target->attr.typekind) {
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
        *iid = target->attr.guid;
        return S_OK;
      case TKIND_ALIAS:
        if (target->attr.tdescAlias.vt != VT_USERDEFINED) return E_UNEXPECTED;
        target = target->Target(target->attr.tdescAlias.hreftype);
        break;
      case TKIND_COCLASS: {
        size_t chosen = 0;
        for (size_t i = 0; i < target->implTypes.size(); ++i)
          if (target->implTypes[i].second & IMPLTYPEFLAG_FDEFAULT) {
            chosen = i;
            break;
          }
        if (target->implTypes.empty()) return E_UNEXPECTED;
        target = target->Target(target->implTypes[chosen].first);
        break;
      }
      default:
        return E_UNEXPECTED;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

const FuncData* TypeInfoImpl::FindFunc(MEMBERID memid, WORD flags, TypeInfoImpl** owner) {
  for (TypeInfoImpl* level = this; level != nullptr; level = level->base) {
    for (const auto& f : level->funcs) {
      if (f->desc.memid != memid) continue;
      // Restricted members with ordinary ids cannot be called late-bound.
      if ((f->desc.wFuncFlags & FUNCFLAG_FRESTRICTED) && memid >= 0) continue;
      if ((flags & f->desc.invkind) == 0) continue;
      *owner = level;
      return f.get();
    }
  }
  return nullptr;
}

HRESULT BuildTypeLib(const idl::Library& description, ImportLoader loadImport, TypeLibImpl** result,
                     std::string* error, bool importStandard) {
  *result = nullptr;
  quorvex::TComPtr<TypeLibImpl> lib;
  try {
    lib = quorvex::TComPtr<TypeLibImpl>(new TypeLibImpl());
    Builder(description, loadImport, lib.get(), importStandard).Build();
  } catch (const BuildError& e) {
    if (error != nullptr) *error = e.what();
    return e.hr();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *result = lib.Detach();
  return S_OK;
}

}  // namespace platform_detail

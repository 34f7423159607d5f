// The interfaces' function tables are laid out from the root: IUnknown's three members, then
// IDispatch's four for a dispatch-derived interface, then each library interface's own members
// from the base down, in declaration order.
#include "platform/idlc/c_declarations.h"

#include <cstdio>
#include <map>
#include <vector>

#include "platform/src/text.h"

namespace platform_detail::idl {

namespace {

struct CMember {
  std::string result;
  std::string name;
  std::vector<std::string> params;  // "TYPE NAME", without the This pointer
};

const std::vector<CMember>& UnknownMembers() {
  static const std::vector<CMember> members = {
      {"HRESULT", "QueryInterface", {"REFIID riid", "void** ppvObject"}},
      {"ULONG", "AddRef", {}},
      {"ULONG", "Release", {}},
  };
  return members;
}

const std::vector<CMember>& DispatchMembers() {
  static const std::vector<CMember> members = {
      {"HRESULT", "GetTypeInfoCount", {"UINT* pctinfo"}},
      {"HRESULT", "GetTypeInfo", {"UINT iTInfo", "LCID lcid", "ITypeInfo** ppTInfo"}},
      {"HRESULT",
       "GetIDsOfNames",
       {"REFIID riid", "LPOLESTR* rgszNames", "UINT cNames", "LCID lcid", "DISPID* rgDispId"}},
      {"HRESULT",
       "Invoke",
       {"DISPID dispIdMember", "REFIID riid", "LCID lcid", "WORD wFlags", "DISPPARAMS* pDispParams",
        "VARIANT* pVarResult", "EXCEPINFO* pExcepInfo", "UINT* puArgErr"}},
  };
  return members;
}

std::string CType(const Type& type) {
  static const std::map<VARTYPE, const char*> kNames = {
      {VT_I1, "CHAR"},
      {VT_UI1, "BYTE"},
      {VT_I2, "SHORT"},
      {VT_UI2, "USHORT"},
      {VT_I4, "LONG"},
      {VT_UI4, "ULONG"},
      {VT_I8, "LONGLONG"},
      {VT_UI8, "ULONGLONG"},
      {VT_INT, "INT"},
      {VT_UINT, "UINT"},
      {VT_R4, "FLOAT"},
      {VT_R8, "DOUBLE"},
      {VT_BSTR, "BSTR"},
      {VT_VARIANT, "VARIANT"},
      {VT_BOOL, "VARIANT_BOOL"},
      {VT_HRESULT, "HRESULT"},
      {VT_ERROR, "SCODE"},
      {VT_DATE, "DATE"},
      {VT_CY, "CY"},
      {VT_DECIMAL, "DECIMAL"},
      {VT_VOID, "void"},
      {VT_LPSTR, "LPSTR"},
      {VT_LPWSTR, "LPWSTR"},
      {VT_UNKNOWN, "IUnknown"},
      {VT_DISPATCH, "IDispatch"},
  };
  switch (type.vt) {
    case VT_PTR:
      return CType(*type.element) + "*";
    case VT_SAFEARRAY:
      return "SAFEARRAY*";
    case VT_USERDEFINED:
      return ToUtf8(type.name);
    default:
      return kNames.at(type.vt);
  }
}

std::string NativeName(const Method& method) {
  const std::string name = ToUtf8(method.name);
  switch (method.invkind) {
    case INVOKE_PROPERTYGET:
      return "get_" + name;
    case INVOKE_PROPERTYPUT:
      return "put_" + name;
    case INVOKE_PROPERTYPUTREF:
      return "putref_" + name;
    default:
      return name;
  }
}

CMember Declared(const Method& method) {
  CMember member{CType(method.result), NativeName(method), {}};
  for (size_t i = 0; i < method.params.size(); ++i) {
    const Param& param = method.params[i];
    // A property's value is often left unnamed in the description.
    std::string name = ToUtf8(param.name);
    if (name.empty()) name = method.params.size() == 1 ? "Value" : "Value" + std::to_string(i + 1);
    member.params.push_back(CType(param.type) + " " + name);
  }
  return member;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

std::string GuidInitializer(const GUID& g) {
  char text[128];
  std::snprintf(text, sizeof text,
                "{0x%08x, 0x%04x, 0x%04x, {0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, 0x%02x, "
                "0x%02x}}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

struct NamedGuid {
  std::string declaration;  // "const IID IID_IResize"
  GUID value;
};

std::vector<NamedGuid> Guids(const Library& library) {
  std::vector<NamedGuid> guids{
      {"const GUID LIBID_" + ToUtf8(library.name), *library.attributes.uuid}};
  for (const Library::Entry& entry : library.order) {
    if (entry.kind == Library::Entry::kInterface) {
      const Interface& i = library.interfaces[entry.index];
      guids.push_back({"const IID IID_" + ToUtf8(i.name), *i.attributes.uuid});
    } else if (entry.kind == Library::Entry::kCoclass) {
      const Coclass& c = library.coclasses[entry.index];
      guids.push_back({"const CLSID CLSID_" + ToUtf8(c.name), *c.attributes.uuid});
    }
  }
  return guids;
}

class HeaderWriter {
 public:
  explicit HeaderWriter(const Library& library) : library_(library) {}

  std::string Write(const std::string& source) {
    out_ = "/* Generated from " + source + " by quorvex-idlc; do not edit. */\n#pragma once\n\n" +
           "#include \"platform/winapi.h\"\n\n";
    for (const Interface& i : library_.interfaces)
      Line("typedef struct " + Name(i) + " " + Name(i) + ";");
    Line("");
    Line("QV_BEGIN_C");
    for (const NamedGuid& guid : Guids(library_)) Line("extern " + guid.declaration + ";");
    Line("QV_END_C");
    for (const Alias& alias : library_.aliases)
      Line("typedef " + CType(alias.target) + " " + ToUtf8(alias.name) + ";");
    Line("");
    Line("#ifdef __cplusplus");
    for (const Interface& i : library_.interfaces) CppClass(i);
    Line("#else");
    for (const Interface& i : library_.interfaces) CTable(i);
    Line("#endif");
    return out_;
  }

 private:
  static std::string Name(const Interface& i) { return ToUtf8(i.name); }

  void Line(const std::string& text) { out_ += text + "\n"; }

  const Interface* Find(const std::u16string& name) const {
    for (const Interface& i : library_.interfaces)
      if (i.name == name) return &i;
    return nullptr;
  }

  // The function table of `i`, IUnknown's members first.
  std::vector<CMember> Table(const Interface& i) const {
    std::vector<CMember> table;
    if (i.base == u"IUnknown" || i.base.empty()) {
      table = UnknownMembers();
    } else if (i.base == u"IDispatch") {
      table = UnknownMembers();
      table.insert(table.end(), DispatchMembers().begin(), DispatchMembers().end());
    } else if (const Interface* base = Find(i.base); base != nullptr && base != &i) {
      table = Table(*base);
    } else {
      throw ParseError(i.line, "base interface " + ToUtf8(i.base) + " of " + Name(i) +
                                   " is not declared before it");
    }
    for (const Method& method : i.methods) table.push_back(Declared(method));
    return table;
  }

  void CppClass(const Interface& i) {
    Table(i);  // checks the base
    Line("struct " + Name(i) + " : public " + (i.base.empty() ? "IUnknown" : ToUtf8(i.base)) +
         " {");
    for (const Method& method : i.methods) {
      const CMember m = Declared(method);
      Line("  virtual " + m.result + " STDMETHODCALLTYPE " + m.name + "(" + Joined(m.params) +
           ") = 0;");
    }
    Line("};");
  }

  void CTable(const Interface& i) {
    const std::string name = Name(i);
    Line("typedef struct " + name + "Vtbl {");
    for (const CMember& m : Table(i)) {
      std::vector<std::string> params{name + "* This"};
      params.insert(params.end(), m.params.begin(), m.params.end());
      Line("  " + m.result + "(STDMETHODCALLTYPE* " + m.name + ")(" + Joined(params) + ");");
    }
    Line("} " + name + "Vtbl;");
    Line("struct " + name + " {");
    Line("  const " + name + "Vtbl* lpVtbl;");
    Line("};");
  }

  const Library& library_;
  std::string out_;
};

}  // namespace

std::string HeaderText(const Library& library, const std::string& source) {
  return HeaderWriter(library).Write(source);
}

std::string GuidSourceText(const Library& library, const std::string& source,
                           const std::string& header) {
  std::string text = "/* Generated from " + source + " by quorvex-idlc; do not edit. */\n" +
                     "#include \"" + header + "\"\n\n";
  for (const NamedGuid& guid : Guids(library))
    text += guid.declaration + " = " + GuidInitializer(guid.value) + ";\n";
  return text;
}

}  // namespace platform_detail::idl

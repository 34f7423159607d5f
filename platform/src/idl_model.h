// The interface description language as this platform reads it: a library block holding
// interfaces (plain and dual), coclasses and type aliases, the subset that automation type
// libraries use. The parse result is plain data; platform/src/type_library.h turns it into
// ITypeLib and ITypeInfo objects.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace platform_detail::idl {

struct Type {
  // A base type (VT_I4, VT_BSTR, ...), VT_PTR or VT_SAFEARRAY with `element`, or
  // VT_USERDEFINED with `name`.
  VARTYPE vt = VT_EMPTY;
  std::u16string name;
  std::shared_ptr<Type> element;
};

struct DefaultValue {
  enum Kind { kInteger, kReal, kText } kind = kInteger;
  int64_t integer = 0;
  double real = 0;
  std::u16string text;
};

struct Param {
  std::u16string name;  // may be empty
  Type type;
  USHORT flags = PARAMFLAG_NONE;
  std::optional<DefaultValue> defaultValue;
};

struct Method {
  std::u16string name;
  Type result;
  std::vector<Param> params;
  INVOKEKIND invkind = INVOKE_FUNC;
  std::optional<MEMBERID> id;
  WORD funcFlags = 0;
  bool vararg = false;
  std::u16string helpString;
  DWORD helpContext = 0;
  int line = 0;
};

struct Attributes {
  std::optional<GUID> uuid;
  WORD majorVersion = 0, minorVersion = 0;
  std::u16string helpString, helpFile;
  DWORD helpContext = 0;
  LCID lcid = 0;
  WORD typeFlags = 0;  // TYPEFLAG_ values from dual, oleautomation, hidden, ...
  bool dual = false;
  bool noncreatable = false;
  bool isPublic = false;
  WORD libFlags = 0;
};

struct Interface {
  std::u16string name;
  Attributes attributes;
  std::u16string base;  // empty for IUnknown itself
  std::vector<Method> methods;
  int line = 0;
};

struct CoclassMember {
  std::u16string interfaceName;
  INT implFlags = 0;  // IMPLTYPEFLAG_ values
};

struct Coclass {
  std::u16string name;
  Attributes attributes;
  std::vector<CoclassMember> interfaces;
  int line = 0;
};

struct Alias {
  std::u16string name;
  Attributes attributes;
  Type target;
  int line = 0;
};

struct Library {
  std::u16string name;
  Attributes attributes;
  std::vector<std::u16string> importLibs;
  // In declaration order, which is the order of the type library's type descriptions.
  std::vector<Interface> interfaces;
  std::vector<Coclass> coclasses;
  std::vector<Alias> aliases;
  struct Entry {
    enum Kind { kInterface, kCoclass, kAlias } kind;
    size_t index;
  };
  std::vector<Entry> order;
};

class ParseError : public std::runtime_error {
 public:
  ParseError(int line, const std::string& message)
      : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Parses the text of an interface description; throws ParseError.
Library Parse(std::string_view text);

}  // namespace platform_detail::idl

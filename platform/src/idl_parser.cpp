// A recursive-descent reader for the interface description subset of idl_model.h.
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>

#include "platform/src/idl_model.h"
#include "platform/src/text.h"

namespace platform_detail::idl {

namespace {

constexpr size_t kMaxText = 4u << 20;
constexpr int kMaxTypeDepth = 8;
constexpr size_t kMaxMembers = 4096;
constexpr size_t kMaxParams = 128;

// Character classes of the description's ASCII syntax, the same in every C locale.
bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAlnum(char c) {
  return IsAlpha(c) || IsDigit(c);
}

enum class Tok { kEnd, kIdent, kNumber, kString, kPunct };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) { Advance(); }

  const Token& Peek() const { return current_; }
  Token Take() {
    Token t = current_;
    Advance();
    return t;
  }
  // Raw text up to the next ')' (for uuid(...), whose digits are not a token).
  std::string RawUntilParen() {
    // The current token is the first one after '('; restart from where it began.
    pos_ = tokenStart_;
    line_ = current_.line;
    std::string raw;
    while (pos_ < text_.size() && text_[pos_] != ')') {
      if (text_[pos_] == '\n') ++line_;
      raw += text_[pos_++];
    }
    Advance();
    return raw;
  }
  int line() const { return current_.line; }

 private:
  void SkipSpaceAndComments() {
    for (;;) {
      while (pos_ < text_.size() && IsSpace(text_[pos_])) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (text_.compare(pos_, 2, "//") == 0 ||
          (pos_ < text_.size() && text_[pos_] == '#' && AtLineStart())) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.compare(pos_, 2, "/*") == 0) {
        const size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) throw ParseError(line_, "unterminated comment");
        for (size_t i = pos_; i < end; ++i)
          if (text_[i] == '\n') ++line_;
        pos_ = end + 2;
      } else {
        return;
      }
    }
  }
  bool AtLineStart() const {
    size_t i = pos_;
    while (i > 0 && (text_[i - 1] == ' ' || text_[i - 1] == '\t')) --i;
    return i == 0 || text_[i - 1] == '\n';
  }
  void Advance() {
    SkipSpaceAndComments();
    tokenStart_ = pos_;
    current_ = Token{};
    current_.line = line_;
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_];
    if (IsAlpha(c) || c == '_') {
      const size_t start = pos_;
      while (pos_ < text_.size() && (IsAlnum(text_[pos_]) || text_[pos_] == '_')) ++pos_;
      current_.kind = Tok::kIdent;
      current_.text = std::string(text_.substr(start, pos_ - start));
    } else if (IsDigit(c)) {
      const size_t start = pos_;
      while (pos_ < text_.size() && (IsAlnum(text_[pos_]) || text_[pos_] == '.')) ++pos_;
      current_.kind = Tok::kNumber;
      current_.text = std::string(text_.substr(start, pos_ - start));
    } else if (c == '"') {
      ++pos_;
      std::string value;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n')
          throw ParseError(line_, "unterminated string");
        char d = text_[pos_++];
        if (d == '"') break;
        if (d == '\\') {
          if (pos_ >= text_.size()) throw ParseError(line_, "unterminated string");
          d = text_[pos_++];
          if (d == 'n') d = '\n';
          if (d == 't') d = '\t';
        }
        value += d;
      }
      current_.kind = Tok::kString;
      current_.text = std::move(value);
    } else if (std::string_view("[](){};,*:=-.").find(c) != std::string_view::npos) {
      current_.kind = Tok::kPunct;
      current_.text = std::string(1, c);
      ++pos_;
    } else {
      throw ParseError(line_, std::string("unexpected character '") + c + "'");
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t tokenStart_ = 0;
  int line_ = 1;
  Token current_;
};

struct RawAttribute {
  std::string name;
  std::vector<Token> args;
  std::string raw;  // for uuid
  int line = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) {}

  Library ParseFile() {
    std::optional<Library> library;
    while (lex_.Peek().kind != Tok::kEnd) {
      if (IsPunct(";")) {
        lex_.Take();
        continue;
      }
      if (IsIdent("import")) {
        SkipStatement();
        continue;
      }
      if (IsIdent("cpp_quote") || IsIdent("midl_pragma")) {
        lex_.Take();
        SkipParens();
        continue;
      }
      std::vector<RawAttribute> attrs = ParseAttributes();
      if (IsIdent("library")) {
        if (library) Fail("a second library");
        library = ParseLibrary(attrs);
        continue;
      }
      Fail("expected a library block");
    }
    if (!library) throw ParseError(lex_.line(), "no library block");
    return std::move(*library);
  }

 private:
  [[noreturn]] void Fail(const std::string& message) { throw ParseError(lex_.line(), message); }
  bool IsPunct(const char* p) const {
    return lex_.Peek().kind == Tok::kPunct && lex_.Peek().text == p;
  }
  bool IsIdent(const char* word) const {
    return lex_.Peek().kind == Tok::kIdent && lex_.Peek().text == word;
  }
  void Expect(const char* p) {
    if (!IsPunct(p)) Fail(std::string("expected '") + p + "'");
    lex_.Take();
  }
  std::string ExpectIdent() {
    if (lex_.Peek().kind != Tok::kIdent) Fail("expected a name");
    return lex_.Take().text;
  }
  void SkipStatement() {
    while (lex_.Peek().kind != Tok::kEnd && !IsPunct(";")) lex_.Take();
    Expect(";");
  }
  void SkipParens() {
    Expect("(");
    int depth = 1;
    while (depth > 0) {
      if (lex_.Peek().kind == Tok::kEnd) Fail("unbalanced parentheses");
      if (IsPunct("(")) ++depth;
      if (IsPunct(")")) --depth;
      lex_.Take();
    }
  }

  std::vector<RawAttribute> ParseAttributes() {
    std::vector<RawAttribute> attrs;
    if (!IsPunct("[")) return attrs;
    lex_.Take();
    if (IsPunct("]")) {
      lex_.Take();
      return attrs;
    }
    for (;;) {
      RawAttribute a;
      a.line = lex_.line();
      a.name = ExpectIdent();
      if (IsPunct("(")) {
        lex_.Take();
        if (a.name == "uuid") {
          a.raw = lex_.RawUntilParen();
          Expect(")");
        } else {
          int depth = 1;
          for (;;) {
            if (lex_.Peek().kind == Tok::kEnd) Fail("unbalanced attribute arguments");
            if (IsPunct("(")) ++depth;
            if (IsPunct(")") && --depth == 0) break;
            a.args.push_back(lex_.Take());
          }
          lex_.Take();
        }
      }
      attrs.push_back(std::move(a));
      if (IsPunct(",")) {
        lex_.Take();
        continue;
      }
      Expect("]");
      return attrs;
    }
  }

  static GUID ParseUuid(const RawAttribute& a) {
    std::string text;
    for (char c : a.raw)
      if (!IsSpace(c) && c != '"') text += c;
    // Built in place: GCC 12 misreads the temporary of u"{" + ... as an overlapping copy.
    std::u16string wide = u"{";
    wide += FromUtf8(text);
    wide += u'}';
    GUID g;
    if (FAILED(IIDFromString(wide.c_str(), &g))) throw ParseError(a.line, "malformed uuid");
    return g;
  }

  static int64_t Integer(const RawAttribute& a) {
    bool negative = false;
    size_t i = 0;
    if (i < a.args.size() && a.args[i].kind == Tok::kPunct && a.args[i].text == "-") {
      negative = true;
      ++i;
    }
    if (i + 1 != a.args.size() || a.args[i].kind != Tok::kNumber)
      throw ParseError(a.line, "expected a number in " + a.name);
    const std::string& t = a.args[i].text;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(t.c_str(), &end, 0);
    if (*end != 0 || errno != 0 || v > 0xFFFFFFFFull) throw ParseError(a.line, "bad number " + t);
    return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  }

  static std::u16string Text(const RawAttribute& a) {
    if (a.args.size() != 1 || a.args[0].kind != Tok::kString)
      throw ParseError(a.line, "expected a string in " + a.name);
    return FromUtf8(a.args[0].text);
  }

  static void Version(const RawAttribute& a, Attributes* out) {
    if (a.args.size() != 1 || a.args[0].kind != Tok::kNumber)
      throw ParseError(a.line, "expected major.minor in version");
    const std::string& t = a.args[0].text;
    const size_t dot = t.find('.');
    char* end = nullptr;
    const unsigned long major = std::strtoul(t.c_str(), &end, 10);
    unsigned long minor = 0;
    if (dot != std::string::npos) {
      if (end != t.c_str() + dot) throw ParseError(a.line, "bad version");
      minor = std::strtoul(t.c_str() + dot + 1, &end, 10);
    }
    if (*end != 0 || major > 0xFFFF || minor > 0xFFFF) throw ParseError(a.line, "bad version");
    out->majorVersion = static_cast<WORD>(major);
    out->minorVersion = static_cast<WORD>(minor);
  }

  // Attributes of libraries, interfaces, coclasses and typedefs.
  static Attributes TypeAttributes(const std::vector<RawAttribute>& attrs) {
    Attributes out;
    for (const RawAttribute& a : attrs) {
      const std::string& n = a.name;
      if (n == "uuid") {
        out.uuid = ParseUuid(a);
      } else if (n == "version") {
        Version(a, &out);
      } else if (n == "helpstring") {
        out.helpString = Text(a);
      } else if (n == "helpfile") {
        out.helpFile = Text(a);
      } else if (n == "helpcontext") {
        out.helpContext = static_cast<DWORD>(Integer(a));
      } else if (n == "lcid") {
        out.lcid = static_cast<LCID>(Integer(a));
      } else if (n == "dual") {
        out.dual = true;
        out.typeFlags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
      } else if (n == "oleautomation") {
        out.typeFlags |= TYPEFLAG_FOLEAUTOMATION;
      } else if (n == "hidden") {
        out.typeFlags |= TYPEFLAG_FHIDDEN;
        out.libFlags |= LIBFLAG_FHIDDEN;
      } else if (n == "restricted") {
        out.typeFlags |= TYPEFLAG_FRESTRICTED;
        out.libFlags |= LIBFLAG_FRESTRICTED;
      } else if (n == "nonextensible") {
        out.typeFlags |= TYPEFLAG_FNONEXTENSIBLE;
      } else if (n == "control") {
        out.typeFlags |= TYPEFLAG_FCONTROL;
        out.libFlags |= LIBFLAG_FCONTROL;
      } else if (n == "appobject") {
        out.typeFlags |= TYPEFLAG_FAPPOBJECT;
      } else if (n == "licensed") {
        out.typeFlags |= TYPEFLAG_FLICENSED;
      } else if (n == "aggregatable") {
        out.typeFlags |= TYPEFLAG_FAGGREGATABLE;
      } else if (n == "noncreatable") {
        out.noncreatable = true;
      } else if (n == "public") {
        out.isPublic = true;
      } else if (n == "odl" || n == "object" || n == "local" || n == "pointer_default" ||
                 n == "custom" || n == "helpstringdll" || n == "helpstringcontext") {
        // Accepted, without meaning in a type library built here.
      } else {
        throw ParseError(a.line, "unknown attribute " + n);
      }
    }
    return out;
  }

  Library ParseLibrary(const std::vector<RawAttribute>& attrs) {
    lex_.Take();  // library
    Library lib;
    lib.attributes = TypeAttributes(attrs);
    if (!lib.attributes.uuid) Fail("a library needs a uuid");
    lib.name = FromUtf8(ExpectIdent());
    Expect("{");
    while (!IsPunct("}")) {
      if (lex_.Peek().kind == Tok::kEnd) Fail("unterminated library");
      if (IsPunct(";")) {
        lex_.Take();
        continue;
      }
      if (IsIdent("importlib")) {
        lex_.Take();
        Expect("(");
        if (lex_.Peek().kind != Tok::kString) Fail("expected a file name");
        lib.importLibs.push_back(FromUtf8(lex_.Take().text));
        Expect(")");
        Expect(";");
        continue;
      }
      if (IsIdent("import")) {
        SkipStatement();
        continue;
      }
      if (IsIdent("cpp_quote")) {
        lex_.Take();
        SkipParens();
        continue;
      }
      if (IsIdent("typedef")) {
        ParseTypedef(lib);
        continue;
      }
      std::vector<RawAttribute> itemAttrs = ParseAttributes();
      if (IsIdent("interface")) {
        ParseInterface(lib, itemAttrs);
      } else if (IsIdent("coclass")) {
        ParseCoclass(lib, itemAttrs);
      } else {
        Fail("expected interface, coclass or typedef");
      }
      if (lib.order.size() > kMaxMembers) Fail("too many types");
    }
    lex_.Take();  // }
    if (IsPunct(";")) lex_.Take();
    return lib;
  }

  // One type as written: [const] base {'*'}.
  Type ParseType(int depth) {
    if (depth > kMaxTypeDepth) Fail("type nested too deeply");
    if (IsIdent("const")) lex_.Take();
    Type t;
    if (IsIdent("SAFEARRAY")) {
      lex_.Take();
      Expect("(");
      t.vt = VT_SAFEARRAY;
      t.element = std::make_shared<Type>(ParseType(depth + 1));
      Expect(")");
    } else {
      t = BaseType();
    }
    int pointers = 0;
    while (IsPunct("*")) {
      lex_.Take();
      if (++pointers > kMaxTypeDepth) Fail("too many pointer levels");
      Type pointer;
      pointer.vt = VT_PTR;
      pointer.element = std::make_shared<Type>(std::move(t));
      t = std::move(pointer);
    }
    return t;
  }

  Type BaseType() {
    Type t;
    const std::string word = ExpectIdent();
    bool isUnsigned = false;
    std::string base = word;
    if (word == "unsigned" || word == "signed") {
      isUnsigned = word == "unsigned";
      if (IsIdent("char") || IsIdent("short") || IsIdent("long") || IsIdent("int") ||
          IsIdent("hyper") || IsIdent("__int64") || IsIdent("__int3264")) {
        base = lex_.Take().text;
      } else {
        base = "int";
      }
    }
    if (base == "long" && IsIdent("long")) {
      lex_.Take();
      base = "hyper";
    }
    if ((base == "short" || base == "long") && IsIdent("int")) lex_.Take();
    static const std::map<std::string, std::pair<VARTYPE, VARTYPE>> kBuiltins = {
        // name: {signed or only, unsigned}
        {"char", {VT_I1, VT_UI1}},
        {"small", {VT_I1, VT_UI1}},
        {"short", {VT_I2, VT_UI2}},
        {"int", {VT_INT, VT_UINT}},
        {"long", {VT_I4, VT_UI4}},
        {"hyper", {VT_I8, VT_UI8}},
        {"__int64", {VT_I8, VT_UI8}},
        {"__int3264", {VT_I8, VT_UI8}},
        {"INT", {VT_INT, VT_INT}},
        {"UINT", {VT_UINT, VT_UINT}},
        {"LONG", {VT_I4, VT_I4}},
        {"ULONG", {VT_UI4, VT_UI4}},
        {"DWORD", {VT_UI4, VT_UI4}},
        {"SHORT", {VT_I2, VT_I2}},
        {"USHORT", {VT_UI2, VT_UI2}},
        {"WORD", {VT_UI2, VT_UI2}},
        {"BYTE", {VT_UI1, VT_UI1}},
        {"byte", {VT_UI1, VT_UI1}},
        {"boolean", {VT_UI1, VT_UI1}},
        {"CHAR", {VT_I1, VT_I1}},
        {"LONGLONG", {VT_I8, VT_I8}},
        {"ULONGLONG", {VT_UI8, VT_UI8}},
        {"float", {VT_R4, VT_R4}},
        {"double", {VT_R8, VT_R8}},
        {"FLOAT", {VT_R4, VT_R4}},
        {"DOUBLE", {VT_R8, VT_R8}},
        {"BSTR", {VT_BSTR, VT_BSTR}},
        {"VARIANT", {VT_VARIANT, VT_VARIANT}},
        {"VARIANT_BOOL", {VT_BOOL, VT_BOOL}},
        {"HRESULT", {VT_HRESULT, VT_HRESULT}},
        {"SCODE", {VT_ERROR, VT_ERROR}},
        {"DATE", {VT_DATE, VT_DATE}},
        {"CURRENCY", {VT_CY, VT_CY}},
        {"CY", {VT_CY, VT_CY}},
        {"DECIMAL", {VT_DECIMAL, VT_DECIMAL}},
        {"void", {VT_VOID, VT_VOID}},
        {"LPSTR", {VT_LPSTR, VT_LPSTR}},
        {"LPWSTR", {VT_LPWSTR, VT_LPWSTR}},
        {"IUnknown", {VT_UNKNOWN, VT_UNKNOWN}},
        {"IDispatch", {VT_DISPATCH, VT_DISPATCH}},
    };
    const auto it = kBuiltins.find(base);
    if (it != kBuiltins.end()) {
      t.vt = isUnsigned ? it->second.second : it->second.first;
    } else if (word == "unsigned" || word == "signed") {
      Fail("unknown type " + base);
    } else {
      t.vt = VT_USERDEFINED;
      t.name = FromUtf8(base);
    }
    return t;
  }

  void ParseTypedef(Library& lib) {
    const int line = lex_.line();
    lex_.Take();  // typedef
    std::vector<RawAttribute> attrs = ParseAttributes();
    Alias alias;
    alias.line = line;
    alias.attributes = TypeAttributes(attrs);
    if (IsIdent("struct") || IsIdent("union") || IsIdent("enum"))
      Fail("only aliases of simple types are supported");
    alias.target = ParseType(0);
    alias.name = FromUtf8(ExpectIdent());
    Expect(";");
    lib.order.push_back({Library::Entry::kAlias, lib.aliases.size()});
    lib.aliases.push_back(std::move(alias));
  }

  void ParseInterface(Library& lib, const std::vector<RawAttribute>& attrs) {
    const int line = lex_.line();
    lex_.Take();  // interface
    Interface iface;
    iface.line = line;
    iface.name = FromUtf8(ExpectIdent());
    if (IsPunct(";")) {  // a forward declaration
      lex_.Take();
      if (!attrs.empty()) Fail("attributes on a forward declaration");
      return;
    }
    iface.attributes = TypeAttributes(attrs);
    if (!iface.attributes.uuid) Fail("an interface needs a uuid");
    if (IsPunct(":")) {
      lex_.Take();
      iface.base = FromUtf8(ExpectIdent());
    } else if (iface.name != u"IUnknown") {
      Fail("an interface needs a base interface");
    }
    Expect("{");
    while (!IsPunct("}")) {
      if (lex_.Peek().kind == Tok::kEnd) Fail("unterminated interface");
      if (IsPunct(";")) {
        lex_.Take();
        continue;
      }
      iface.methods.push_back(ParseMethod());
      if (iface.methods.size() > kMaxMembers) Fail("too many methods");
    }
    lex_.Take();
    if (IsPunct(";")) lex_.Take();
    lib.order.push_back({Library::Entry::kInterface, lib.interfaces.size()});
    lib.interfaces.push_back(std::move(iface));
  }

  Method ParseMethod() {
    Method m;
    m.line = lex_.line();
    for (const RawAttribute& a : ParseAttributes()) {
      const std::string& n = a.name;
      if (n == "id") {
        m.id = static_cast<MEMBERID>(Integer(a));
      } else if (n == "propget") {
        m.invkind = INVOKE_PROPERTYGET;
      } else if (n == "propput") {
        m.invkind = INVOKE_PROPERTYPUT;
      } else if (n == "propputref") {
        m.invkind = INVOKE_PROPERTYPUTREF;
      } else if (n == "helpstring") {
        m.helpString = Text(a);
      } else if (n == "helpcontext") {
        m.helpContext = static_cast<DWORD>(Integer(a));
      } else if (n == "restricted") {
        m.funcFlags |= FUNCFLAG_FRESTRICTED;
      } else if (n == "hidden") {
        m.funcFlags |= FUNCFLAG_FHIDDEN;
      } else if (n == "source") {
        m.funcFlags |= FUNCFLAG_FSOURCE;
      } else if (n == "bindable") {
        m.funcFlags |= FUNCFLAG_FBINDABLE;
      } else if (n == "requestedit") {
        m.funcFlags |= FUNCFLAG_FREQUESTEDIT;
      } else if (n == "displaybind") {
        m.funcFlags |= FUNCFLAG_FDISPLAYBIND;
      } else if (n == "defaultbind") {
        m.funcFlags |= FUNCFLAG_FDEFAULTBIND;
      } else if (n == "nonbrowsable") {
        m.funcFlags |= FUNCFLAG_FNONBROWSABLE;
      } else if (n == "uidefault") {
        m.funcFlags |= FUNCFLAG_FUIDEFAULT;
      } else if (n == "defaultcollelem") {
        m.funcFlags |= FUNCFLAG_FDEFAULTCOLLELEM;
      } else if (n == "vararg") {
        m.vararg = true;
      } else if (n == "local" || n == "call_as" || n == "custom") {
        // no meaning here
      } else {
        throw ParseError(a.line, "unknown method attribute " + n);
      }
    }
    m.result = ParseType(0);
    m.name = FromUtf8(ExpectIdent());
    Expect("(");
    if (IsIdent("void")) {
      // "(void)" has no parameters; "void* p" is a parameter.
      Lexer save = lex_;
      lex_.Take();
      if (IsPunct(")")) {
        lex_.Take();
        Expect(";");
        return m;
      }
      lex_ = save;
    }
    while (!IsPunct(")")) {
      m.params.push_back(ParseParam());
      if (m.params.size() > kMaxParams) Fail("too many parameters");
      if (IsPunct(",")) {
        lex_.Take();
      } else if (!IsPunct(")")) {
        Fail("expected ',' or ')'");
      }
    }
    lex_.Take();
    Expect(";");
    return m;
  }

  Param ParseParam() {
    Param p;
    for (const RawAttribute& a : ParseAttributes()) {
      const std::string& n = a.name;
      if (n == "in") {
        p.flags |= PARAMFLAG_FIN;
      } else if (n == "out") {
        p.flags |= PARAMFLAG_FOUT;
      } else if (n == "retval") {
        p.flags |= PARAMFLAG_FRETVAL;
      } else if (n == "optional") {
        p.flags |= PARAMFLAG_FOPT;
      } else if (n == "lcid") {
        p.flags |= PARAMFLAG_FLCID;
      } else if (n == "defaultvalue") {
        p.flags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
        p.defaultValue = ParseDefault(a);
      } else if (n == "unique" || n == "ref" || n == "ptr" || n == "string" || n == "iid_is" ||
                 n == "size_is" || n == "length_is") {
        // marshalling hints
      } else {
        throw ParseError(a.line, "unknown parameter attribute " + n);
      }
    }
    p.type = ParseType(0);
    if (lex_.Peek().kind == Tok::kIdent) p.name = FromUtf8(lex_.Take().text);
    return p;
  }

  static DefaultValue ParseDefault(const RawAttribute& a) {
    DefaultValue v;
    if (a.args.size() == 1 && a.args[0].kind == Tok::kString) {
      v.kind = DefaultValue::kText;
      v.text = FromUtf8(a.args[0].text);
      return v;
    }
    const bool negative = !a.args.empty() && a.args[0].kind == Tok::kPunct && a.args[0].text == "-";
    const size_t i = negative ? 1 : 0;
    if (a.args.size() != i + 1 || a.args[i].kind != Tok::kNumber)
      throw ParseError(a.line, "unsupported default value");
    const std::string& t = a.args[i].text;
    if (t.find('.') != std::string::npos && t.rfind("0x", 0) != 0) {
      // from_chars reads a decimal point whatever the process's C locale is.
      v.kind = DefaultValue::kReal;
      const auto [stop, error] = std::from_chars(t.data(), t.data() + t.size(), v.real);
      if (error != std::errc() || stop != t.data() + t.size())
        throw ParseError(a.line, "bad default value");
      if (negative) v.real = -v.real;
      return v;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long u = std::strtoull(t.c_str(), &end, 0);
    if (errno != 0 || u > 0x7FFFFFFFull + (negative ? 1 : 0))
      throw ParseError(a.line, "default value out of range");
    v.integer = negative ? -static_cast<int64_t>(u) : static_cast<int64_t>(u);
    if (*end != 0) throw ParseError(a.line, "bad default value");
    return v;
  }

  void ParseCoclass(Library& lib, const std::vector<RawAttribute>& attrs) {
    const int line = lex_.line();
    lex_.Take();  // coclass
    Coclass c;
    c.line = line;
    c.attributes = TypeAttributes(attrs);
    if (!c.attributes.uuid) Fail("a coclass needs a uuid");
    c.name = FromUtf8(ExpectIdent());
    Expect("{");
    while (!IsPunct("}")) {
      if (lex_.Peek().kind == Tok::kEnd) Fail("unterminated coclass");
      CoclassMember member;
      for (const RawAttribute& a : ParseAttributes()) {
        if (a.name == "default") {
          member.implFlags |= IMPLTYPEFLAG_FDEFAULT;
        } else if (a.name == "source") {
          member.implFlags |= IMPLTYPEFLAG_FSOURCE;
        } else if (a.name == "restricted") {
          member.implFlags |= IMPLTYPEFLAG_FRESTRICTED;
        } else if (a.name == "defaultvtable") {
          member.implFlags |= IMPLTYPEFLAG_FDEFAULTVTABLE;
        } else {
          throw ParseError(a.line, "unknown coclass member attribute " + a.name);
        }
      }
      if (!IsIdent("interface") && !IsIdent("dispinterface")) Fail("expected interface");
      lex_.Take();
      member.interfaceName = FromUtf8(ExpectIdent());
      Expect(";");
      c.interfaces.push_back(std::move(member));
      if (c.interfaces.size() > kMaxMembers) Fail("too many interfaces");
    }
    lex_.Take();
    if (IsPunct(";")) lex_.Take();
    lib.order.push_back({Library::Entry::kCoclass, lib.coclasses.size()});
    lib.coclasses.push_back(std::move(c));
  }

  Lexer lex_;
};

}  // namespace

Library Parse(std::string_view text) {
  if (text.size() > kMaxText) throw ParseError(0, "description too large");
  Parser parser(text);
  return parser.ParseFile();
}

}  // namespace platform_detail::idl

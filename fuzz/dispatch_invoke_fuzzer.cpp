// Drives IDispatch::Invoke of a Resize object created through the component module's class
// factory, as a script host would, with arbitrary dispatch identifiers (or names), flags, named
// arguments and argument values: VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_EMPTY, VT_NULL, the
// missing-argument marker, byte arrays with random bytes, bounds and dimensions, the seed JPEG
// as a (possibly damaged) byte array, the object itself as VT_DISPATCH, VT_BYREF of those and
// chains of VT_VARIANT | VT_BYREF. StreamImage runs outside a web request, in a context without
// a response object, or into a response that may fail any of its calls.
//
// After every call the object must still keep its invariants (settings within their ranges, the
// version text, a failed call leaving the size as it was, DISP_E_EXCEPTION only with error
// details from "Quorvex.Resize", in EXCEPINFO or, without one, in the thread's error
// information), and at the end of every input the module must be unloadable:
// every object, array, string and factory reference released.
//
// File names never leave a scratch directory: every argument of LoadFromFile and SaveToFile is
// replaced by a name inside it, and the process works in it. Images stay small: calls whose
// converted arguments (seen by a recording stand-in called through the same type information)
// would make a large picture are skipped, byte arrays whose JPEG frame header declares a large
// picture are not passed, and a picture grown larger than 64 x 64 is cropped back.
//
// Input: a start byte (image: none, the seed, the gray seed, a crop; context: none, without a
// response, a response, a failing response), then up to 10 calls, each: a member byte (below
// 232 an identifier -1..21, from 232 a name from a list or a special identifier), a flags byte,
// an argument count byte (% 5), a named-argument count byte, for each named argument an
// identifier byte, for each argument a type byte and its value, and a byte choosing whether a
// result, EXCEPINFO and an argument-error slot are passed. Type bytes (% 16): empty, null, I4,
// R4, R8, BSTR, BOOL, missing, byte array, seed JPEG array, I4 by reference, BSTR by reference,
// array by reference, VARIANT by reference (a chain), the object itself, a 2-D or I4 array.
//
// The seeds (fuzz/corpus/dispatch_invoke/) were written by a short script from this layout: a
// property get and put of each kind, every method with well-typed arguments, VariantIn of the
// seed through a reference chain, the failing ResizeBox(1, 100) on a 48 x 4 crop, SaveToFile and
// LoadFromFile by name, StreamImage in each context, and a few argument mistakes.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/quorvex_interface.h"
#include "fuzz/fuzz_input.h"
#include "platform/object_context.h"
#include "platform/response_base.h"
#include "quorvex_version.h"

namespace {

// Results above this many pixels are not made, to keep each run fast.
constexpr int64_t kWorkLimit = int64_t{1} << 16;
// The raster limit of the imaging layer: larger results are refused before allocation.
constexpr int64_t kMaxRasterPixels = int64_t{16383} * 16383;
constexpr LONG kKeptSide = 64;

// QUORVEX_FUZZ_TRACE=1 prints every call and its result, to see what an input does.
bool Tracing() {
  static const bool tracing = std::getenv("QUORVEX_FUZZ_TRACE") != nullptr;
  return tracing;
}

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "dispatch_invoke_fuzzer: %s\n", what.c_str());
  std::abort();
}

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());  // the texts used here are ASCII
}

std::string Narrow(const OLECHAR* text) {
  std::string result;
  for (; text != nullptr && *text != 0; ++text)
    result += *text < 0x80 ? static_cast<char>(*text) : '?';
  return result;
}

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// An owned interface pointer (the fuzzer keeps to the platform's headers).
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  void** Put() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
    return reinterpret_cast<void**>(&p_);
  }

 private:
  T* p_ = nullptr;
};

struct ModuleState {
  HMODULE module = nullptr;
  std::string scratch;
  std::vector<uint8_t> seedJpeg, graySeedJpeg;

  HRESULT GetClassObject(REFIID iid, void** object) const {
    using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    return Export<Proc>(module, "DllGetClassObject")(CLSID_Resize, iid, object);
  }
  HRESULT CanUnloadNow() const {
    return Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllCanUnloadNow")();
  }
};

void RemoveScratch();
ModuleState& Started();

// The module and the scratch directory, set up on first use (the corpus replay has no
// initialisation hook of its own).
ModuleState& State() {
  static ModuleState& state = Started();
  return state;
}

std::vector<uint8_t> ArrayBytes(const VARIANT& value) {
  std::vector<uint8_t> bytes;
  if (V_VT(&value) != (VT_ARRAY | VT_UI1) || V_ARRAY(&value) == nullptr) return bytes;
  const uint8_t* data = static_cast<const uint8_t*>(V_ARRAY(&value)->pvData);
  return std::vector<uint8_t>(data, data + V_ARRAY(&value)->rgsabound[0].cElements);
}

// A small picture encoded by the object itself: a crop of the empty image, painted in the
// background colour, then a few transforms so it is not flat.
std::vector<uint8_t> MakeSeed(IClassFactory* factory, bool gray) {
  Ref<IResize> resize;
  if (FAILED(factory->CreateInstance(nullptr, IID_IResize, resize.Put()))) return {};
  resize->put_BackgroundColor(0x3366CC);
  resize->CropImage(0, 0, 12, 8);
  resize->put_BackgroundColor(0xFFEE00);
  resize->CropImage(-3, -2, 14, 9);
  resize->RotateImage(30.0f);
  resize->put_GrayScale(gray ? VARIANT_TRUE : VARIANT_FALSE);
  VARIANT out;
  VariantInit(&out);
  resize->get_VariantOut(&out);
  std::vector<uint8_t> bytes = ArrayBytes(out);
  VariantClear(&out);
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

class Input : public quorvex::fuzzing::TFuzzInput {
 public:
  using TFuzzInput::TFuzzInput;
  LONG Integer() {
    static constexpr LONG kSpecial[] = {std::numeric_limits<LONG>::min(),
                                        std::numeric_limits<LONG>::max(),
                                        -1,
                                        0,
                                        1,
                                        100,
                                        1000,
                                        16383,
                                        65535,
                                        70000,
                                        1 << 20,
                                        -(1 << 20),
                                        2000000000};
    const uint8_t selector = Byte();
    if (selector < 200) return static_cast<LONG>(selector) - 20;
    if (selector == 255) return static_cast<LONG>(Word());
    return kSpecial[(selector - 200) % (sizeof kSpecial / sizeof kSpecial[0])];
  }
  double Real() {
    static constexpr double kSpecial[] = {0.0,
                                          -0.0,
                                          90.0,
                                          -90.0,
                                          45.5,
                                          1e30,
                                          -1e30,
                                          std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          2147483647.5,
                                          -2147483648.5,
                                          0.5,
                                          1.5,
                                          3.4e38,
                                          1e-300};
    const uint8_t selector = Byte();
    if (selector < 200) return static_cast<double>(selector) - 20.0;
    if (selector == 255) {
      uint64_t bits = Word();
      bits |= static_cast<uint64_t>(Word()) << 32;
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    return kSpecial[(selector - 200) % (sizeof kSpecial / sizeof kSpecial[0])];
  }
  std::u16string Text() {
    const size_t length = Byte() % 20;
    std::u16string text;
    for (size_t i = 0; i < length; ++i) {
      const uint8_t c = Byte();
      text += static_cast<char16_t>(c < 0xF0 ? c : 0xD800 + c);  // lone surrogates too
    }
    return text;
  }
};

// Everything one call's arguments own or point into; freed after the call.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (VARIANT& v : variants_) VariantClear(&v);
    for (BSTR text : texts_) SysFreeString(text);
    for (SAFEARRAY* array : arrays_) SafeArrayDestroy(array);
  }
  VARIANT& NewVariant() {
    variants_.emplace_back();
    VariantInit(&variants_.back());
    return variants_.back();
  }
  LONG& NewLong() { return longs_.emplace_back(); }
  BSTR& NewText(BSTR text) { return texts_.emplace_back(text); }
  SAFEARRAY*& NewArray(SAFEARRAY* array) { return arrays_.emplace_back(array); }
  // Every byte array of the call, wherever it sits, for the frame-size check.
  std::vector<SAFEARRAY*> byteArrays;

 private:
  std::deque<VARIANT> variants_;
  std::deque<LONG> longs_;
  std::deque<BSTR> texts_;
  std::deque<SAFEARRAY*> arrays_;
};

SAFEARRAY* RandomArray(Input& in, Arena& arena) {
  const uint8_t shape = in.Byte();
  SAFEARRAY* array = nullptr;
  if (shape % 4 == 3) {
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(in.Byte() % 9), in.Integer()},
                                {static_cast<ULONG>(in.Byte() % 9), in.Integer()}};
    array = SafeArrayCreate(shape & 4 ? VT_I4 : VT_UI1, 2, bounds);
  } else {
    const LONG lower = in.Integer();
    const ULONG count = in.Byte() % 64;
    array = SafeArrayCreateVector(shape & 4 ? VT_I4 : VT_UI1, lower, count);
  }
  if (array == nullptr) return nullptr;
  const size_t size =
      static_cast<size_t>(array->cbElements) *
      (array->cDims == 2 ? array->rgsabound[0].cElements * array->rgsabound[1].cElements
                         : array->rgsabound[0].cElements);
  auto* data = static_cast<uint8_t*>(array->pvData);
  for (size_t i = 0; i < size; ++i) data[i] = in.Byte();
  arena.byteArrays.push_back(array);
  return array;
}

// The seed JPEG as a byte array with a lower bound of choice, sometimes damaged at one place.
SAFEARRAY* SeedArray(Input& in, Arena& arena) {
  const ModuleState& state = State();
  const uint8_t choice = in.Byte();
  std::vector<uint8_t> bytes = choice & 1 ? state.graySeedJpeg : state.seedJpeg;
  if (choice & 2 && !bytes.empty()) {
    const size_t position = in.Byte() * 7u % bytes.size();
    bytes[position] = in.Byte();
  }
  if (choice & 4) bytes.resize(bytes.size() * in.Byte() / 256);
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, choice & 8 ? in.Integer() : 1,
                                           static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return nullptr;
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  arena.byteArrays.push_back(array);
  return array;
}

// One argument value, built into `v`, which the arena or the argument list owns.
void MakeArgument(Input& in, Arena& arena, IDispatch* self, int depth, VARIANT& v) {
  switch (in.Byte() % 16) {
    case 0:
      break;
    case 1:
      V_VT(&v) = VT_NULL;
      break;
    case 2:
      V_VT(&v) = VT_I4;
      V_I4(&v) = in.Integer();
      break;
    case 3:
      V_VT(&v) = VT_R4;
      V_R4(&v) = static_cast<FLOAT>(in.Real());
      break;
    case 4:
      V_VT(&v) = VT_R8;
      V_R8(&v) = in.Real();
      break;
    case 5:
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(in.Text().c_str());
      break;
    case 6:
      V_VT(&v) = VT_BOOL;
      V_BOOL(&v) = in.Byte() & 1 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case 7:
      V_VT(&v) = VT_ERROR;
      V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
      break;
    case 8:
    case 15:
      if ((V_ARRAY(&v) = RandomArray(in, arena)) != nullptr) {
        VARTYPE type = VT_UI1;
        SafeArrayGetVartype(V_ARRAY(&v), &type);
        V_VT(&v) = VT_ARRAY | type;
      }
      break;
    case 9:
      if ((V_ARRAY(&v) = SeedArray(in, arena)) != nullptr) V_VT(&v) = VT_ARRAY | VT_UI1;
      break;
    case 10: {
      LONG& target = arena.NewLong();
      target = in.Integer();
      V_VT(&v) = VT_I4 | VT_BYREF;
      V_I4REF(&v) = &target;
      break;
    }
    case 11: {
      BSTR& target = arena.NewText(SysAllocString(in.Text().c_str()));
      V_VT(&v) = VT_BSTR | VT_BYREF;
      V_BSTRREF(&v) = &target;
      break;
    }
    case 12: {
      SAFEARRAY*& target =
          arena.NewArray(in.Byte() & 1 ? SeedArray(in, arena) : RandomArray(in, arena));
      // The arena frees the array; the list of byte arrays must not free it twice.
      V_VT(&v) = VT_ARRAY | VT_UI1 | VT_BYREF;
      V_ARRAYREF(&v) = &target;
      break;
    }
    case 13: {
      // A reference to a VARIANT holding another argument, to some depth.
      VARIANT& target = arena.NewVariant();
      if (depth < 4) MakeArgument(in, arena, self, depth + 1, target);
      V_VT(&v) = VT_VARIANT | VT_BYREF;
      V_VARIANTREF(&v) = &target;
      break;
    }
    case 14:
      V_VT(&v) = VT_DISPATCH;
      V_DISPATCH(&v) = self;
      self->AddRef();
      break;
  }
}

// A safe file name for LoadFromFile and SaveToFile: always inside the scratch directory.
std::string FileName(Input& in) {
  static const char* const kFixed[] = {"seed.jpg", "saved.jpg", "sub", "missing/x.jpg", "text.jpg"};
  const uint8_t choice = in.Byte();
  std::string name;
  if (choice < 128) {
    name = kFixed[choice % 5];
  } else {
    const size_t length = in.Byte() % 12 + 1;
    for (size_t i = 0; i < length; ++i) {
      static const char kAllowed[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";
      name += kAllowed[in.Byte() % (sizeof kAllowed - 1)];
    }
  }
  return State().scratch + "/" + name;
}

void MakeFileArgument(Input& in, Arena& arena, VARIANT& v) {
  const std::u16string name = Wide(FileName(in));
  switch (in.Byte() % 3) {
    case 0:
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(name.c_str());
      break;
    case 1: {
      BSTR& target = arena.NewText(SysAllocString(name.c_str()));
      V_VT(&v) = VT_BSTR | VT_BYREF;
      V_BSTRREF(&v) = &target;
      break;
    }
    default: {
      VARIANT& target = arena.NewVariant();
      V_VT(&target) = VT_BSTR;
      V_BSTR(&target) = SysAllocString(name.c_str());
      V_VT(&v) = VT_VARIANT | VT_BYREF;
      V_VARIANTREF(&v) = &target;
      break;
    }
  }
}

// The converted arguments a member receives, recorded by a stand-in called through the same
// type information as the object.
class RecordingResize final : public IResize {
 public:
  const char* member = nullptr;
  LONG args[4] = {};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Width(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Height(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ResizeImage(LONG Width, LONG Height) override {
    return Record("ResizeImage", Width, Height);
  }
  HRESULT STDMETHODCALLTYPE ScaleImage(LONG Factor) override {
    return Record("ScaleImage", Factor);
  }
  HRESULT STDMETHODCALLTYPE ResizeBox(LONG Width, LONG Height) override {
    return Record("ResizeBox", Width, Height);
  }
  HRESULT STDMETHODCALLTYPE RotateImage(FLOAT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CropImage(LONG X1, LONG Y1, LONG X2, LONG Y2) override {
    return Record("CropImage", X1, Y1, X2, Y2);
  }
  HRESULT STDMETHODCALLTYPE get_GrayScale(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_GrayScale(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SaveToFile(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_JPGQuality(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_JPGQuality(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE VariantIn(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_VariantOut(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StreamImage() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FlipHorizontal() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FlipVertical() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DPI(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_DPI(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Version(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BackgroundColor(OLE_COLOR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_BackgroundColor(OLE_COLOR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GreyScale(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_GreyScale(VARIANT_BOOL) override { return E_NOTIMPL; }

 private:
  HRESULT Record(const char* name, LONG a, LONG b = 0, LONG c = 0, LONG d = 0) {
    member = name;
    args[0] = a, args[1] = b, args[2] = c, args[3] = d;
    return S_OK;
  }
};

struct Size {
  int64_t width, height;
};

// The size a resize to (w, h) leaves: unchanged on any failure (nullopt means "no new picture").
std::optional<Size> ResizeResult(int64_t w, int64_t h, const Size& image) {
  if (h == 0 || image.height == 0) return std::nullopt;
  if (w > std::numeric_limits<int32_t>::max() || h > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  if (w * h > kMaxRasterPixels) return std::nullopt;
  return Size{w, h};
}

std::optional<Size> ResizeImageResult(LONG width, LONG height, const Size& image) {
  int64_t w = std::max<LONG>(width, 0), h = std::max<LONG>(height, 0);
  if ((w == 0 && h == 0) || image.height == 0) return std::nullopt;
  if (w == 0) {
    w = h * image.width / image.height;
  } else if (h == 0) {
    if (image.width == 0) return std::nullopt;
    h = w * image.height / image.width;
  }
  return ResizeResult(w, h, image);
}

// The picture a transform with these converted arguments would make, if any.
std::optional<Size> PlannedResult(const RecordingResize& probe, const Size& image) {
  const std::string member = probe.member != nullptr ? probe.member : "";
  const LONG* a = probe.args;
  if (member == "ResizeImage") return ResizeImageResult(a[0], a[1], image);
  if (member == "ScaleImage") {
    if (a[0] <= 0) return std::nullopt;
    return ResizeResult(int64_t{a[0]} * image.width / 100, int64_t{a[0]} * image.height / 100,
                        image);
  }
  if (member == "ResizeBox") {
    if (a[0] >= image.width && a[1] >= image.height) return std::nullopt;
    const double rw = static_cast<double>(image.width) / a[0];
    const double rh = static_cast<double>(image.height) / a[1];
    return rw > rh ? ResizeImageResult(a[0], 0, image) : ResizeImageResult(0, a[1], image);
  }
  if (member == "CropImage") {
    const int64_t w = std::abs(int64_t{a[2]} - a[0]), h = std::abs(int64_t{a[3]} - a[1]);
    if (w > std::numeric_limits<int32_t>::max() || h > std::numeric_limits<int32_t>::max() ||
        w * h > kMaxRasterPixels)
      return std::nullopt;
    return Size{w, h};
  }
  return std::nullopt;
}

// True when a byte array's bytes hold a JPEG frame header for a picture too large to decode
// quickly. Looks at every FF Cn pair, wherever it lies, so nothing larger slips through.
bool DeclaresLargeFrame(SAFEARRAY* array) {
  if (array == nullptr || array->pvData == nullptr) return false;
  size_t size = array->cbElements;
  for (USHORT i = 0; i < array->cDims; ++i) size *= array->rgsabound[i].cElements;
  const auto* bytes = static_cast<const uint8_t*>(array->pvData);
  for (size_t i = 0; i + 8 < size; ++i) {
    if (bytes[i] != 0xFF || (bytes[i + 1] & 0xF0) != 0xC0) continue;
    if (bytes[i + 1] == 0xC4 || bytes[i + 1] == 0xC8 || bytes[i + 1] == 0xCC) continue;
    const int64_t height = bytes[i + 5] << 8 | bytes[i + 6];
    const int64_t width = bytes[i + 7] << 8 | bytes[i + 8];
    if (width * height > kWorkLimit) return true;
  }
  return false;
}

// A web response that records its calls and may fail one of them.
class FuzzResponse final : public quorvex::ResponseBase {
 public:
  int failAt = -1;  // the call (0..3) to fail, or none
  int calls = 0;
  LONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IResponse)) {
      *object = static_cast<IResponse*>(this);
      ++references;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR type) override {
    if (Narrow(type) != "Image/jpeg") Fault("content type " + Narrow(type));
    return Call();
  }
  HRESULT STDMETHODCALLTYPE put_Expires(long minutes) override {
    if (minutes != 0) Fault("Expires is not 0");
    return Call();
  }
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override {
    const std::vector<uint8_t> body = ArrayBytes(input);
    if (body.size() < 2 || body[0] != 0xFF || body[1] != 0xD8) Fault("body is not a JPEG");
    return Call();
  }
  HRESULT STDMETHODCALLTYPE Clear() override { return Call(); }

 private:
  HRESULT Call() { return calls++ == failAt ? E_ACCESSDENIED : S_OK; }
};

LONG Read(IResize* resize, HRESULT (STDMETHODCALLTYPE IResize::*get)(LONG*)) {
  LONG value = -1;
  if ((resize->*get)(&value) != S_OK) Fault("a property get failed");
  return value;
}

Size SizeOf(IResize* resize) {
  return {Read(resize, &IResize::get_Width), Read(resize, &IResize::get_Height)};
}

// The invariants every call must leave behind.
void CheckObject(IResize* resize) {
  const LONG quality = Read(resize, &IResize::get_JPGQuality);
  const LONG dpi = Read(resize, &IResize::get_DPI);
  if (quality < 0 || quality > 100) Fault("JPGQuality out of range");
  if (dpi < 0 || dpi > 65535) Fault("DPI out of range");
  VARIANT_BOOL gray = 1, grey = 1;
  resize->get_GrayScale(&gray);
  resize->get_GreyScale(&grey);
  if ((gray != VARIANT_TRUE && gray != VARIANT_FALSE) || gray != grey)
    Fault("GrayScale and GreyScale disagree");
  BSTR version = nullptr;
  if (resize->get_Version(&version) != S_OK || Narrow(version) != QUORVEX_VERSION_TEXT)
    Fault("Version changed");
  SysFreeString(version);
  const Size size = SizeOf(resize);
  if (size.width < 0 || size.height < 0) Fault("negative size");
}

// Keeps the picture small, so every later call stays fast.
void KeepSmall(IResize* resize) {
  const Size size = SizeOf(resize);
  if (size.width <= kKeptSide && size.height <= kKeptSide) return;
  resize->CropImage(0, 0, static_cast<LONG>(std::min<int64_t>(size.width, kKeptSide)),
                    static_cast<LONG>(std::min<int64_t>(size.height, kKeptSide)));
}

DISPID MemberId(Input& in, IDispatch* dispatch) {
  static const char* const kNames[] = {"Width",      "HEIGHT",      "resizeimage", "ScaleImage",
                                       "ResizeBox",  "RotateImage", "CropImage",   "GreyScale",
                                       "VariantIn",  "VariantOut",  "StreamImage", "Version",
                                       "NoSuchName", "SaveToFile",  "LoadFromFile"};
  static constexpr DISPID kSpecial[] = {DISPID_VALUE,
                                        DISPID_PROPERTYPUT,
                                        DISPID_NEWENUM,
                                        std::numeric_limits<DISPID>::min(),
                                        std::numeric_limits<DISPID>::max(),
                                        0x10000 | 3};
  const uint8_t selector = in.Byte();
  if (selector < 232) return static_cast<DISPID>(selector % 23) - 1;
  if (selector < 247) {
    std::u16string name = Wide(kNames[selector - 232]);
    LPOLESTR names[1] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    dispatch->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
    return id;
  }
  return kSpecial[(selector - 247) % (sizeof kSpecial / sizeof kSpecial[0])];
}

void OneCall(Input& in, IResize* resize, ITypeInfo* typeInfo) {
  const DISPID id = MemberId(in, resize);
  const uint8_t flagByte = in.Byte();
  WORD flags = flagByte & 0x0F;
  if (flagByte & 0x10) flags |= 0x20;  // a flag no member knows
  const UINT count = in.Byte() % 5;
  const UINT namedCount = std::min<UINT>(in.Byte() % 3, count);
  std::vector<DISPID> named(namedCount);
  for (DISPID& n : named) {
    const uint8_t b = in.Byte();
    n = b & 0x80 ? DISPID_PROPERTYPUT : static_cast<DISPID>(b % 6) - 1;
  }
  Arena arena;
  std::vector<VARIANT> args(count);
  for (VARIANT& v : args) {
    VariantInit(&v);
    // Names of files are always made inside the scratch directory, whatever the call.
    if (id == 9 || id == 10) {
      MakeFileArgument(in, arena, v);
    } else {
      MakeArgument(in, arena, resize, 0, v);
    }
  }
  const uint8_t outputs = in.Byte();
  DISPPARAMS params{args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(),
                    count, namedCount};

  // Skip calls that would make a large picture or decode a large frame.
  bool skip = std::any_of(arena.byteArrays.begin(), arena.byteArrays.end(), DeclaresLargeFrame);
  const Size before = SizeOf(resize);
  if (!skip && (id == 3 || id == 4 || id == 5 || id == 7)) {
    RecordingResize probe;
    WORD probeFlags = flags;
    if (probeFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
      probeFlags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    VARIANT ignored;
    VariantInit(&ignored);
    typeInfo->Invoke(static_cast<IResize*>(&probe), id, probeFlags, &params, &ignored, nullptr,
                     nullptr);
    VariantClear(&ignored);
    const std::optional<Size> planned = PlannedResult(probe, before);
    skip = planned && planned->width * planned->height > kWorkLimit;
  }

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  UINT argumentError = 0xFFFF;
  HRESULT hr = S_OK;
  if (!skip) {
    hr = resize->Invoke(id, IID_NULL, 0x409, flags, &params, outputs & 1 ? &result : nullptr,
                        outputs & 2 ? &exception : nullptr, outputs & 4 ? &argumentError : nullptr);
  }
  for (VARIANT& v : args) VariantClear(&v);

  if (Tracing()) {
    std::fprintf(stderr, "member %d flags %u args %u named %u%s: %08X %s\n", static_cast<int>(id),
                 flags, count, namedCount, skip ? " (skipped)" : "", static_cast<unsigned>(hr),
                 Narrow(exception.bstrDescription).c_str());
  }
  if (hr == DISP_E_EXCEPTION && !(outputs & 2)) {
    // Without EXCEPINFO the caller finds the details in the thread's error information.
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr)
      Fault("DISP_E_EXCEPTION without EXCEPINFO or error information");
    info->GetSource(&exception.bstrSource);
    info->GetDescription(&exception.bstrDescription);
    info->Release();
    exception.scode = E_UNEXPECTED;
  }
  if (hr == DISP_E_EXCEPTION) {
    if (SUCCEEDED(exception.scode)) Fault("DISP_E_EXCEPTION with a success code");
    if (Narrow(exception.bstrSource) != "Quorvex.Resize")
      Fault("error source \"" + Narrow(exception.bstrSource) + "\"");
    if (exception.bstrDescription == nullptr) Fault("error without a description");
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  VariantClear(&result);

  CheckObject(resize);
  const Size after = SizeOf(resize);
  if (FAILED(hr) && (after.width != before.width || after.height != before.height))
    Fault("a failed call (" + std::to_string(hr) + ", member " + std::to_string(id) +
          ") changed the size");
  KeepSmall(resize);
}

ModuleState& Started() {
  static ModuleState state;

  char directory[] = "/tmp/qv_dispatch_fuzz_XXXXXX";
  if (mkdtemp(directory) == nullptr) Fault("no scratch directory");
  state.scratch = directory;
  // Relative names land in the scratch directory too.
  if (chdir(directory) != 0) Fault("cannot enter the scratch directory");
  setenv("QUORVEX_REGISTRY", (state.scratch + "/registry").c_str(), 1);
  state.module = LoadLibraryW(Wide(QUORVEX_MODULE_PATH).c_str());
  if (state.module == nullptr) Fault("cannot load " QUORVEX_MODULE_PATH);
  {
    Ref<IClassFactory> factory;
    if (FAILED(state.GetClassObject(IID_IClassFactory, factory.Put()))) Fault("no class factory");
    state.seedJpeg = MakeSeed(factory.get(), false);
    state.graySeedJpeg = MakeSeed(factory.get(), true);
  }
  if (state.seedJpeg.empty() || state.graySeedJpeg.empty()) Fault("no seed picture");
  WriteFile(state.scratch + "/seed.jpg", state.seedJpeg);
  WriteFile(state.scratch + "/text.jpg", {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
  mkdir((state.scratch + "/sub").c_str(), 0700);
  std::atexit(RemoveScratch);
  return state;
}

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(State().scratch, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  State();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ModuleState& state = State();
  Input in(data, size);
  const uint8_t start = in.Byte();
  FuzzResponse response;
  response.failAt = static_cast<int>(start >> 4) % 6 - 1;
  {
    Ref<IResize> resize;
    {
      Ref<IClassFactory> factory;
      if (FAILED(state.GetClassObject(IID_IClassFactory, factory.Put()))) Fault("no factory");
      if (FAILED(factory->CreateInstance(nullptr, IID_IResize, resize.Put()))) Fault("no object");
    }
    Ref<ITypeInfo> typeInfo;
    if (resize->GetTypeInfo(0, 0x409, reinterpret_cast<ITypeInfo**>(typeInfo.Put())) != S_OK)
      Fault("no type information");
    // The starting picture.
    switch (start & 3) {
      case 1:
      case 2: {
        const std::vector<uint8_t>& bytes = (start & 3) == 1 ? state.seedJpeg : state.graySeedJpeg;
        VARIANT array;
        VariantInit(&array);
        V_VT(&array) = VT_ARRAY | VT_UI1;
        V_ARRAY(&array) = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(bytes.size()));
        std::memcpy(V_ARRAY(&array)->pvData, bytes.data(), bytes.size());
        if (resize->VariantIn(array) != S_OK) Fault("the seed does not load");
        VariantClear(&array);
        break;
      }
      case 3:
        resize->CropImage(0, 0, 48, 4);
        break;
      default:
        break;
    }
    // The web request the calls run in, if any.
    const int context = (start >> 2) & 3;
    if (context == 1) QvEnterObjectContextWith(0, nullptr, nullptr);
    if (context >= 2) QvEnterObjectContext(&response);
    for (int call = 0; call < 10 && !in.Empty(); ++call) OneCall(in, resize.get(), typeInfo.get());
    if (context != 0) QvLeaveObjectContext();
  }
  if (response.references != 1) Fault("the response's references were not all released");
  if (state.CanUnloadNow() != S_OK) Fault("an object or factory reference was not released");
  return 0;
}

// The object's members under faults, through the module as a client loads it: every allocation
// and every I/O call of a load, a transform or an output failing in turn. A failed member returns
// its documented error, leaves the image as it was, leaves a file it was writing either as it was
// or complete, and leaks nothing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "platform/com_ptr.h"
#include "platform/object_context.h"
#include "platform/response_base.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"

namespace quorvex::faults {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;
using testing::WriteBytes;
using Bytes = std::vector<uint8_t>;

const std::string kMetadataPhoto =
    std::string(QUORVEX_SOURCE_DIR) + "/tests/data/metadata/combined.jpg";

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A byte array VARIANT, as VariantIn and LoadThumbnail take it.
class ByteArray {
 public:
  explicit ByteArray(const Bytes& bytes) {
    VariantInit(&value_);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    std::memcpy(array->pvData, bytes.data(), bytes.size());
    V_VT(&value_) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value_) = array;
  }
  ~ByteArray() { VariantClear(&value_); }
  ByteArray(const ByteArray&) = delete;
  ByteArray& operator=(const ByteArray&) = delete;
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

Bytes ArrayBytes(const VARIANT& value) {
  if (V_VT(&value) != (VT_ARRAY | VT_UI1)) return {};
  const auto* data = static_cast<const uint8_t*>(V_ARRAY(&value)->pvData);
  return Bytes(data, data + V_ARRAY(&value)->rgsabound[0].cElements);
}

std::set<std::string> FilesIn(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

// A web response that allocates nothing itself, so that every fault strikes the component.
class QuietResponse final : public ResponseBase {
 public:
  int calls = 0;  // Expires, Clear, ContentType, BinaryWrite: 4 when all were made
  Bytes body;

  explicit QuietResponse(size_t room) { body.reserve(room); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IResponse)) {
      *object = static_cast<IResponse*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE put_Expires(long) override { return ++calls, S_OK; }
  HRESULT STDMETHODCALLTYPE Clear() override { return ++calls, S_OK; }
  HRESULT STDMETHODCALLTYPE put_ContentType(BSTR) override { return ++calls, S_OK; }
  // Keeps the bytes within the room reserved up front, which never allocates.
  HRESULT STDMETHODCALLTYPE BinaryWrite(VARIANT input) override {
    ++calls;
    const SAFEARRAY* array = V_VT(&input) == (VT_ARRAY | VT_UI1) ? V_ARRAY(&input) : nullptr;
    if (array != nullptr && array->rgsabound[0].cElements <= body.capacity()) {
      const auto* data = static_cast<const uint8_t*>(array->pvData);
      body.assign(data, data + array->rgsabound[0].cElements);
    }
    return S_OK;
  }
  ULONG references = 1;
};

class ObjectSweep : public ::testing::TestWithParam<Kind> {
 protected:
  ScratchDirectory dir;
  HMODULE module = nullptr;
  TComPtr<IClassFactory> factory;
  TComPtr<IResize2> resize;
  std::string earlier;  // the picture loaded before each point: 40 x 30

  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
    setenv("QUORVEX_REGISTRY", dir.File("registry").c_str(), 1);
    module = LoadLibraryW(Utf8ToOle(QUORVEX_MODULE_PATH).c_str());
    ASSERT_NE(module, nullptr);
    using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    ASSERT_EQ(Export<Proc>(module, "DllGetClassObject")(CLSID_Resize, IID_IClassFactory,
                                                        factory.PutVoid()),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IResize2, resize.PutVoid()), S_OK);
    earlier = testing::MakeJpegWithCjpeg(dir, "earlier.jpg", 40, 30);
  }
  void TearDown() override {
    resize = TComPtr<IResize2>();
    factory = TComPtr<IClassFactory>();
    if (module != nullptr) FreeLibrary(module);
  }

  void Load(const std::string& file) {
    ASSERT_EQ(resize->LoadFromFile(TBstr(Utf8ToNewBstr(file)).get()), S_OK);
  }
  Bytes Encoded() {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(resize->get_VariantOut(&out), S_OK);
    Bytes bytes = ArrayBytes(out);
    VariantClear(&out);
    return bytes;
  }
  struct Picture {
    LONG width = 0, height = 0;
    Bytes encoded;  // with DPI 72, colour
    bool operator==(const Picture&) const = default;
  };
  // The image as it stands, independent of the settings a failed load may have taken.
  Picture Current() {
    Picture picture;
    resize->get_Width(&picture.width);
    resize->get_Height(&picture.height);
    resize->put_DPI(72);
    resize->put_GrayScale(VARIANT_FALSE);
    if (picture.width > 0 && picture.height > 0) picture.encoded = Encoded();
    return picture;
  }

  // A load under faults: from the earlier picture to the new one, or no change at all.
  void SweepLoad(const std::string& name, std::function<HRESULT()> load,
                 std::initializer_list<std::string> messages) {
    Load(kMetadataPhoto);
    ASSERT_EQ(load(), S_OK);
    const Picture loaded = Current();
    Load(earlier);
    const Picture before = Current();
    Sweep(GetParam(), {name, [&] { Load(earlier); }, load,
                       [&](HRESULT result, bool) {
                         if (result == S_OK) {
                           EXPECT_TRUE(Current() == loaded) << "a load that succeeded is whole";
                           return;
                         }
                         EXPECT_TRUE(DocumentedFailure(result, messages));
                         EXPECT_TRUE(Current() == before) << "the earlier image stays";
                       }});
  }

  // A transform under faults: the new image or the old one.
  void SweepTransform(const std::string& name, std::function<HRESULT()> transform,
                      std::initializer_list<std::string> messages) {
    Load(earlier);
    ASSERT_EQ(transform(), S_OK);
    const Picture transformed = Current();
    Load(earlier);
    const Picture before = Current();
    Sweep(GetParam(), {name, [&] { Load(earlier); }, transform,
                       [&](HRESULT result, bool) {
                         if (result == S_OK) {
                           EXPECT_TRUE(Current() == transformed);
                           return;
                         }
                         EXPECT_TRUE(DocumentedFailure(result, messages));
                         EXPECT_TRUE(Current() == before);
                       }});
  }

  // SaveToFile under faults onto target, which prepare puts in its starting state: afterwards the
  // directory holds exactly what it held, and target is either as it was or the complete output.
  void SweepSave(const std::string& name, const std::string& target,
                 std::function<void()> prepareTarget) {
    Load(earlier);
    const Bytes output = Encoded();
    TBstr file(Utf8ToNewBstr(target));
    prepareTarget();
    const std::set<std::string> files = FilesIn(dir.path());
    const bool existed = std::filesystem::exists(target);
    const Bytes old = existed ? ReadBytes(target) : Bytes{};
    Sweep(
        GetParam(),
        {name, prepareTarget, [&] { return resize->SaveToFile(file.get()); },
         [&](HRESULT result, bool) {
           std::set<std::string> now = FilesIn(dir.path());
           if (!existed) now.erase(std::filesystem::path(target).filename());
           EXPECT_EQ(now, files) << "no temporary left behind, nothing removed";
           const bool exists = std::filesystem::exists(target);
           const Bytes content = exists ? ReadBytes(target) : Bytes{};
           if (result == S_OK) {
             EXPECT_EQ(content, output) << "a save that succeeded wrote everything";
             return;
           }
           EXPECT_TRUE(DocumentedFailure(result, {"Cannot write file: " + target}));
           EXPECT_TRUE(existed ? content == old || content == output : !exists || content == output)
               << "never a torn file";
         }});
  }
};

TEST_P(ObjectSweep, LoadFromFile) {
  TBstr file(Utf8ToNewBstr(kMetadataPhoto));
  SweepLoad("LoadFromFile", [&] { return resize->LoadFromFile(file.get()); },
            {"Invalid file.", "Cannot open file - the permission may be incorrect.",
             "File not found or permission incorrect."});
}

TEST_P(ObjectSweep, VariantIn) {
  const ByteArray bytes(ReadBytes(kMetadataPhoto));
  SweepLoad("VariantIn", [&] { return resize->VariantIn(bytes.get()); },
            {"VariantIn has failed to read an image."});
}

TEST_P(ObjectSweep, LoadThumbnailByName) {
  VARIANT name;
  VariantInit(&name);
  V_VT(&name) = VT_BSTR;
  V_BSTR(&name) = Utf8ToNewBstr(kMetadataPhoto);
  SweepLoad("LoadThumbnail (file)", [&] { return resize->LoadThumbnail(name, 20, 20); },
            {"Invalid file.", "Cannot open file - the permission may be incorrect.",
             "File not found or permission incorrect."});
  VariantClear(&name);
}

TEST_P(ObjectSweep, LoadThumbnailByBytesTurnedUpright) {
  resize->put_AutoOrient(VARIANT_TRUE);
  const ByteArray bytes(ReadBytes(kMetadataPhoto));
  SweepLoad("LoadThumbnail (bytes, upright)",
            [&] { return resize->LoadThumbnail(bytes.get(), 20, 20); },
            {"VariantIn has failed to read an image."});
}

TEST_P(ObjectSweep, ResizeBox) {
  SweepTransform("ResizeBox", [&] { return resize->ResizeBox(17, 17); }, {});
}

TEST_P(ObjectSweep, RotateImage) {
  SweepTransform("RotateImage", [&] { return resize->RotateImage(33.0f); }, {});
}

TEST_P(ObjectSweep, SaveToANewFile) {
  const std::string target = dir.File("new.jpg");
  SweepSave("SaveToFile (new file)", target, [&] { std::filesystem::remove(target); });
}

TEST_P(ObjectSweep, SaveReplacingAFile) {
  const std::string target = dir.File("old.jpg");
  SweepSave("SaveToFile (replace)", target, [&] { WriteBytes(target, Bytes(5000, 0x5A)); });
}

TEST_P(ObjectSweep, SaveInPlaceOfAFileWithTwoNames) {
  const std::string target = dir.File("linked.jpg");
  const std::string other = dir.File("other-name.jpg");
  SweepSave("SaveToFile (in place)", target, [&] {
    std::filesystem::remove(other);
    WriteBytes(target, Bytes(300, 0xA5));
    std::filesystem::create_hard_link(target, other);
  });
}

TEST_P(ObjectSweep, SaveKeepingMetadata) {
  resize->put_KeepMetadata(VARIANT_TRUE);
  Load(kMetadataPhoto);
  const std::string target = dir.File("kept.jpg");
  TBstr file(Utf8ToNewBstr(target));
  Sweep(GetParam(), {"SaveToFile (kept metadata)", [&] { std::filesystem::remove(target); },
                     [&] { return resize->SaveToFile(file.get()); },
                     [&](HRESULT result, bool) {
                       if (result == S_OK) return;
                       EXPECT_TRUE(DocumentedFailure(result, {"Cannot write file: " + target}));
                       EXPECT_FALSE(std::filesystem::exists(target));
                     }});
}

TEST_P(ObjectSweep, VariantOut) {
  Load(earlier);
  const Picture before = Current();
  VARIANT out;
  VariantInit(&out);
  Sweep(GetParam(),
        {"VariantOut", [&] { V_VT(&out) = VT_I4; }, [&] { return resize->get_VariantOut(&out); },
         [&](HRESULT result, bool) {
           if (result == S_OK) {
             EXPECT_EQ(ArrayBytes(out), before.encoded);
           } else {
             EXPECT_EQ(V_VT(&out), VT_EMPTY) << "a failed VariantOut gives empty";
             EXPECT_TRUE(DocumentedFailure(result, {}));
           }
           VariantClear(&out);
           EXPECT_TRUE(Current() == before);
         }});
}

TEST_P(ObjectSweep, StreamImage) {
  Load(earlier);
  const Picture before = Current();
  std::unique_ptr<QuietResponse> response;
  std::unique_ptr<ObjectContextScope> context;
  Sweep(GetParam(),
        {"StreamImage",
         [&] {
           response = std::make_unique<QuietResponse>(before.encoded.size());
           context = std::make_unique<ObjectContextScope>(response.get());
           ASSERT_TRUE(context->entered());
         },
         [&] { return resize->StreamImage(); },
         [&](HRESULT result, bool) {
           context.reset();
           if (result == S_OK) {
             EXPECT_EQ(response->calls, 4);
             EXPECT_EQ(response->body, before.encoded);
           } else {
             EXPECT_TRUE(DocumentedFailure(
                 result, {"StreamImage needs a web request: there is no object context."}));
             EXPECT_TRUE(response->calls < 4 || response->body == before.encoded);
           }
           EXPECT_EQ(response->references, 1u) << "every reference released";
           EXPECT_TRUE(Current() == before);
         }});
}

INSTANTIATE_TEST_SUITE_P(Faults, ObjectSweep, kAllKinds, KindLabel);

}  // namespace
}  // namespace quorvex::faults

// The module under concurrent use, as a web server with threading model "Both" calls it: eight
// threads at once create Resize objects through the module's class factory, load, transform,
// encode and save, run into failures and read their own thread's error information, and release
// the objects. Every byte each thread produces must equal what the same sequence produced on one
// thread alone, and the module must be unloadable at the end.
#include <gtest/gtest.h>

#include <cstdio>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/com_ptr.h"
#include "component/quorvex_interface.h"
#include "comserver/text_conversion.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_files.h"

namespace quorvex {
namespace {

using testing::ScratchDirectory;

constexpr int kThreads = 8;
constexpr int kRounds = 64;  // objects per thread, about forty member calls each

template <typename Proc>
Proc Export(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The component module, loaded as the platform loads an in-process server.
class Module {
 public:
  Module() : handle_(LoadLibraryW(Utf8ToOle(QUORVEX_MODULE_PATH).c_str())) {}
  ~Module() {
    if (handle_ != nullptr) FreeLibrary(handle_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  bool Loaded() const { return handle_ != nullptr; }

  TComPtr<IClassFactory> Factory() const {
    using Proc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    TComPtr<IClassFactory> factory;
    Export<Proc>(handle_, "DllGetClassObject")(CLSID_Resize, IID_IClassFactory, factory.PutVoid());
    return factory;
  }
  HRESULT CanUnloadNow() const {
    return Export<HRESULT(STDAPICALLTYPE*)()>(handle_, "DllCanUnloadNow")();
  }

 private:
  HMODULE handle_;
};

// What one sequence of calls produced, in order.
struct Outcome {
  std::vector<std::vector<uint8_t>> outputs;  // VariantOut arrays and saved files
  std::vector<std::string> log;               // sizes, settings and error details
  std::vector<std::string> faults;            // results that differ from what the member owes
  long calls = 0;                             // member calls made through the interface
};

// Where two outcomes first part, or empty when they are the same.
std::string FirstDifference(const Outcome& expected, const Outcome& actual) {
  if (expected.outputs.size() != actual.outputs.size())
    return "output count " + std::to_string(actual.outputs.size()) + " instead of " +
           std::to_string(expected.outputs.size());
  for (size_t i = 0; i < expected.outputs.size(); ++i)
    if (expected.outputs[i] != actual.outputs[i])
      return "output " + std::to_string(i) + " differs (" +
             std::to_string(actual.outputs[i].size()) + " bytes instead of " +
             std::to_string(expected.outputs[i].size()) + ")";
  if (expected.log.size() != actual.log.size()) return "log length differs";
  for (size_t i = 0; i < expected.log.size(); ++i)
    if (expected.log[i] != actual.log[i])
      return "log entry " + std::to_string(i) + ": \"" + actual.log[i] + "\" instead of \"" +
             expected.log[i] + "\"";
  return "";
}

std::string Hex(HRESULT value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

// One thread's sequence: a numbered seed decides every argument, so the same seed always makes
// the same calls.
class Sequence {
 public:
  Sequence(const Module& module, const std::string& photo, const ScratchDirectory& dir, int seed)
      : module_(module),
        photo_(photo),
        photoBytes_(testing::ReadBytes(photo)),
        dir_(dir),
        seed_(seed),
        random_(static_cast<unsigned>(seed) * 7919u + 17u) {}

  Outcome Run(int rounds) {
    for (int round = 0; round < rounds; ++round) {
      TComPtr<IResize> resize = Create();
      if (!resize) {
        outcome_.faults.push_back("no object in round " + std::to_string(round));
        break;
      }
      Round(resize.get(), round);
    }
    return std::move(outcome_);
  }

  // One object's life after its creation: settings, a load, transforms, output, late-bound
  // calls and failures.
  void Round(IResize* resize, int round) {
    Expect(resize->put_JPGQuality(Pick(40, 99)), S_OK, "put_JPGQuality");
    Expect(resize->put_DPI(Pick(0, 600)), S_OK, "put_DPI");
    Expect(resize->put_BackgroundColor(static_cast<OLE_COLOR>(random_() & 0xFFFFFF)), S_OK,
           "put_BackgroundColor");
    Load(resize, round);
    Expect(resize->put_GrayScale(round % 3 == 0 ? VARIANT_TRUE : VARIANT_FALSE), S_OK,
           "put_GrayScale");
    for (int step = 0; step < 5; ++step) Transform(resize);
    Output(resize);
    LateBound(resize);
    Failures(resize, round);
  }

 private:
  TComPtr<IResize> Create() {
    TComPtr<IClassFactory> factory = module_.Factory();
    TComPtr<IResize> resize;
    if (factory) factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid());
    return resize;
  }

  LONG Pick(LONG low, LONG high) {
    return low + static_cast<LONG>(random_() % static_cast<unsigned>(high - low + 1));
  }

  void Expect(HRESULT result, HRESULT expected, const std::string& call) {
    ++outcome_.calls;
    if (result != expected)
      outcome_.faults.push_back(call + " gave " + Hex(result) + ", expected " + Hex(expected));
  }

  void LogSize(IResize* resize, const char* after) {
    LONG width = -1, height = -1;
    Expect(resize->get_Width(&width), S_OK, "get_Width");
    Expect(resize->get_Height(&height), S_OK, "get_Height");
    outcome_.log.push_back(std::string(after) + " " + std::to_string(width) + "x" +
                           std::to_string(height));
  }

  void Load(IResize* resize, int round) {
    if (round % 2 == 0) {
      Expect(resize->LoadFromFile(TBstr(Utf8ToNewBstr(photo_)).get()), S_OK, "LoadFromFile");
    } else {
      // A byte array with a lower bound other than 1, as scripts may build one.
      VARIANT bytes;
      VariantInit(&bytes);
      V_VT(&bytes) = VT_ARRAY | VT_UI1;
      V_ARRAY(&bytes) =
          SafeArrayCreateVector(VT_UI1, round, static_cast<ULONG>(photoBytes_.size()));
      void* data = nullptr;
      if (V_ARRAY(&bytes) != nullptr && SUCCEEDED(SafeArrayAccessData(V_ARRAY(&bytes), &data))) {
        std::copy(photoBytes_.begin(), photoBytes_.end(), static_cast<uint8_t*>(data));
        SafeArrayUnaccessData(V_ARRAY(&bytes));
      }
      Expect(resize->VariantIn(bytes), S_OK, "VariantIn");
      VariantClear(&bytes);
    }
    LogSize(resize, "load");
  }

  void Transform(IResize* resize) {
    switch (random_() % 7) {
      case 0:
        Expect(resize->ResizeImage(Pick(8, 64), 0), S_OK, "ResizeImage");
        break;
      case 1:
        Expect(resize->ScaleImage(Pick(50, 150)), S_OK, "ScaleImage");
        break;
      case 2:
        Expect(resize->ResizeBox(Pick(12, 48), Pick(12, 48)), S_OK, "ResizeBox");
        break;
      case 3: {
        static constexpr FLOAT kAngles[] = {90.0f, -30.0f, 15.5f, 180.0f, 45.0f};
        Expect(resize->RotateImage(kAngles[random_() % 5]), S_OK, "RotateImage");
        break;
      }
      case 4:
        Expect(resize->CropImage(Pick(-4, 10), Pick(-4, 10), Pick(12, 40), Pick(12, 40)), S_OK,
               "CropImage");
        break;
      case 5:
        Expect(resize->FlipHorizontal(), S_OK, "FlipHorizontal");
        break;
      default:
        Expect(resize->FlipVertical(), S_OK, "FlipVertical");
        break;
    }
    LogSize(resize, "transform");
  }

  void Output(IResize* resize) {
    VARIANT out;
    VariantInit(&out);
    Expect(resize->get_VariantOut(&out), S_OK, "get_VariantOut");
    if (V_VT(&out) == (VT_ARRAY | VT_UI1) && V_ARRAY(&out) != nullptr) {
      LONG lower = 0;
      SafeArrayGetLBound(V_ARRAY(&out), 1, &lower);
      const auto* data = static_cast<const uint8_t*>(V_ARRAY(&out)->pvData);
      outcome_.outputs.emplace_back(data, data + V_ARRAY(&out)->rgsabound[0].cElements);
      outcome_.log.push_back("lower bound " + std::to_string(lower));
    } else {
      outcome_.faults.push_back("VariantOut gave no byte array");
    }
    VariantClear(&out);
    // Each thread writes its own file.
    const std::string file = dir_.File("out-" + std::to_string(seed_) + ".jpg");
    Expect(resize->SaveToFile(TBstr(Utf8ToNewBstr(file)).get()), S_OK, "SaveToFile");
    outcome_.outputs.push_back(testing::ReadBytes(file));
  }

  // The same object by name, through the type information every thread shares.
  void LateBound(IResize* resize) {
    std::basic_string<OLECHAR> name = Utf8ToOle(random_() % 2 ? "height" : "Width");
    LPOLESTR names[1] = {name.data()};
    DISPID id = 0;
    Expect(resize->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id), S_OK, "GetIDsOfNames");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    Expect(
        resize->Invoke(id, GUID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
        S_OK, "Invoke");
    outcome_.log.push_back("by name " + std::to_string(id) + " = " + std::to_string(V_I4(&value)));
    VARIANT factor;
    VariantInit(&factor);
    V_VT(&factor) = VT_BSTR;
    V_BSTR(&factor) = Utf8ToNewBstr("100");
    DISPPARAMS one{&factor, nullptr, 1, 0};
    Expect(resize->Invoke(4, GUID_NULL, 0x409, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
           S_OK, "Invoke ScaleImage");
    VariantClear(&factor);
  }

  // A failing call, then this thread's error information, after giving others a chance to
  // publish theirs.
  void ExpectFailure(HRESULT result, const std::string& call, const std::string& description) {
    Expect(result, E_UNEXPECTED, call);
    std::this_thread::yield();
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) {
      outcome_.faults.push_back(call + ": no error information");
      return;
    }
    GUID guid{};
    TBstr source, text;
    DWORD helpContext = 99;
    info->GetGUID(&guid);
    info->GetSource(source.Put());
    info->GetDescription(text.Put());
    info->GetHelpContext(&helpContext);
    const std::string got = BstrToUtf8(text.get());
    if (got != description || BstrToUtf8(source.get()) != "Quorvex.Resize" ||
        !IsEqualGUID(guid, IID_IResize) || helpContext != 0)
      outcome_.faults.push_back(call + ": error information \"" + got + "\" from \"" +
                                BstrToUtf8(source.get()) + "\"");
    outcome_.log.push_back("error " + got);
  }

  void Failures(IResize* resize, int round) {
    const std::string missing =
        dir_.File("missing-" + std::to_string(seed_) + "-" + std::to_string(round) + ".jpg");
    ExpectFailure(resize->LoadFromFile(TBstr(Utf8ToNewBstr(missing)).get()), "LoadFromFile",
                  "File not found or permission incorrect.");
    const std::string unwritable = dir_.File("no-dir-" + std::to_string(seed_)) + "/x.jpg";
    ExpectFailure(resize->SaveToFile(TBstr(Utf8ToNewBstr(unwritable)).get()), "SaveToFile",
                  "Cannot write file: " + unwritable);
    // A 100 x 10 crop makes ResizeBox derive a height of 0 in its inner ResizeImage.
    Expect(resize->CropImage(0, 0, 100, 10), S_OK, "CropImage");
    ExpectFailure(resize->ResizeBox(1, 100), "ResizeBox", "Division by zero");
    LogSize(resize, "after failed ResizeBox");
    Expect(resize->CropImage(5, 0, 5, 10), S_OK, "CropImage");
    ExpectFailure(resize->SaveToFile(TBstr(Utf8ToNewBstr(dir_.File("never.jpg"))).get()),
                  "SaveToFile", "No image loaded.");
  }

  const Module& module_;
  std::string photo_;
  std::vector<uint8_t> photoBytes_;
  const ScratchDirectory& dir_;
  int seed_;
  std::minstd_rand random_;
  Outcome outcome_;
};

class ConcurrencyTest : public ::testing::Test {
 protected:
  ScratchDirectory dir;
  std::string photo;
  Module module;

  void SetUp() override {
    QUORVEX_REQUIRE_TOOLS(quorvex_test::Tool::kCjpeg);
    ASSERT_TRUE(module.Loaded());
    photo = testing::MakeJpegWithCjpeg(dir, "photo.jpg", 48, 32);
    ASSERT_EQ(module.CanUnloadNow(), S_OK);
  }

  // The outcome of each seed's sequence run on this thread alone.
  std::vector<Outcome> References(int rounds) {
    std::vector<Outcome> references;
    for (int seed = 0; seed < kThreads; ++seed) {
      references.push_back(Sequence(module, photo, dir, seed).Run(rounds));
      EXPECT_TRUE(references.back().faults.empty()) << references.back().faults.front();
    }
    return references;
  }
};

TEST_F(ConcurrencyTest, EightThreadsAtOnceProduceTheSingleThreadedBytes) {
  const std::vector<Outcome> references = References(kRounds);
  ASSERT_EQ(module.CanUnloadNow(), S_OK);

  std::vector<Outcome> outcomes(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      Sequence sequence(module, photo, dir, t);
      start.arrive_and_wait();  // all threads begin together
      outcomes[t] = sequence.Run(kRounds);
    });
  for (std::thread& thread : threads) thread.join();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    for (const std::string& fault : outcomes[t].faults) ADD_FAILURE() << fault;
    EXPECT_GE(outcomes[t].calls, 2000) << "thousands of member calls per thread";
    EXPECT_EQ(outcomes[t].calls, references[t].calls);
    EXPECT_EQ(FirstDifference(references[t], outcomes[t]), "");
  }
  RecordProperty("member_calls_per_thread", std::to_string(outcomes[0].calls));
  // Different seeds make different pictures, so a mix-up between threads would show above.
  EXPECT_NE(references[0].outputs, references[1].outputs);
  EXPECT_EQ(module.CanUnloadNow(), S_OK) << "every object and factory reference released";
}

TEST_F(ConcurrencyTest, OneObjectCalledFromThreadAfterThread) {
  // Threading model "Both": consecutive calls on one object may come from different threads.
  constexpr int kTurns = 6;
  const Outcome reference = [&] {
    Sequence sequence(module, photo, dir, 42);
    TComPtr<IClassFactory> factory = module.Factory();
    TComPtr<IResize> resize;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid()), S_OK);
    for (int turn = 0; turn < kTurns; ++turn) sequence.Round(resize.get(), turn);
    return sequence.Run(0);
  }();

  Sequence sequence(module, photo, dir, 42);
  TComPtr<IClassFactory> factory = module.Factory();
  TComPtr<IResize> resize;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IResize, resize.PutVoid()), S_OK);
  factory = TComPtr<IClassFactory>();
  for (int turn = 0; turn < kTurns; ++turn)
    std::thread([&] { sequence.Round(resize.get(), turn); }).join();
  const Outcome outcome = sequence.Run(0);
  for (const std::string& fault : outcome.faults) ADD_FAILURE() << fault;
  EXPECT_EQ(FirstDifference(reference, outcome), "");
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "the object is alive";
  resize = TComPtr<IResize>();
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace quorvex

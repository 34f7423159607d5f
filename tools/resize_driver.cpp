// The driver calls the Resize object's members directly.
#include "tools/resize_driver.h"

#include <cstring>

#include "component/resize_object.h"
#include "component/text_conversion.h"

namespace quorvex::tools {

namespace {

struct BstrHolder {
  explicit BstrHolder(const std::string& text) : value(Utf8ToNewBstr(text)) {}
  ~BstrHolder() { SysFreeString(value); }
  BstrHolder(const BstrHolder&) = delete;
  BstrHolder& operator=(const BstrHolder&) = delete;
  BSTR value;
};

template <typename Body>
auto Call(Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    throw DriverError(e.what());
  }
}

}  // namespace

struct ResizeDriver::Object {
  TResize resize;
};

ResizeDriver::ResizeDriver() : object_(std::make_unique<Object>()) {}
ResizeDriver::~ResizeDriver() = default;

void ResizeDriver::LoadFromFile(const std::string& path) {
  Call([&] { object_->resize.LoadFromFile(BstrHolder(path).value); });
}

void ResizeDriver::SaveToFile(const std::string& path) {
  Call([&] { object_->resize.SaveToFile(BstrHolder(path).value); });
}

std::vector<uint8_t> ResizeDriver::VariantOut() {
  return Call([&] {
    VARIANT value;
    VariantInit(&value);
    object_->resize.VariantOut(&value);
    std::vector<uint8_t> bytes;
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(V_ARRAY(&value), &data))) {
      const auto* first = static_cast<const uint8_t*>(data);
      bytes.assign(first, first + V_ARRAY(&value)->rgsabound[0].cElements);
      SafeArrayUnaccessData(V_ARRAY(&value));
    }
    VariantClear(&value);
    return bytes;
  });
}

void ResizeDriver::SetJPGQuality(int32_t value) {
  object_->resize.SetJPGQuality(value);
}
void ResizeDriver::SetDPI(int32_t value) {
  object_->resize.SetDPI(value);
}
void ResizeDriver::SetGrayScale(bool value) {
  object_->resize.SetGrayScale(value ? VARIANT_TRUE : VARIANT_FALSE);
}
void ResizeDriver::SetBackgroundColor(uint32_t value) {
  object_->resize.SetBackgroundColor(value);
}

void ResizeDriver::ResizeImage(int32_t width, int32_t height) {
  Call([&] { object_->resize.ResizeImage(width, height); });
}
void ResizeDriver::ScaleImage(int32_t factor) {
  Call([&] { object_->resize.ScaleImage(factor); });
}
void ResizeDriver::ResizeBox(int32_t width, int32_t height) {
  Call([&] { object_->resize.ResizeBox(width, height); });
}
void ResizeDriver::RotateImage(float angle) {
  Call([&] { object_->resize.RotateImage(angle); });
}
void ResizeDriver::CropImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  Call([&] { object_->resize.CropImage(x1, y1, x2, y2); });
}
void ResizeDriver::FlipHorizontal() {
  Call([&] { object_->resize.FlipHorizontal(); });
}
void ResizeDriver::FlipVertical() {
  Call([&] { object_->resize.FlipVertical(); });
}

int32_t ResizeDriver::Width() {
  return object_->resize.Width();
}
int32_t ResizeDriver::Height() {
  return object_->resize.Height();
}
int32_t ResizeDriver::DPI() {
  return object_->resize.DPI();
}
bool ResizeDriver::GrayScale() {
  return object_->resize.GrayScale() != VARIANT_FALSE;
}

std::string ResizeDriver::Version() {
  BSTR text = object_->resize.Version();
  std::string result = BstrToUtf8(text);
  SysFreeString(text);
  return result;
}

}  // namespace quorvex::tools

// How the command-line tool talks to a Resize object. Every call is one member of the object;
// a failing member raises DriverError with the object's own message.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace quorvex::tools {

class DriverError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The component module the tool drives: $QUORVEX_MODULE, or the one installed or built beside
// the tool (module_location.cpp).
std::string ModulePath();

// Runs the module's DllRegisterServer or DllUnregisterServer; returns its result.
HRESULT RunRegistration(bool doRegister);

class ResizeDriver {
 public:
  ResizeDriver();
  ~ResizeDriver();
  ResizeDriver(const ResizeDriver&) = delete;
  ResizeDriver& operator=(const ResizeDriver&) = delete;

  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);
  std::vector<uint8_t> VariantOut();

  void SetJPGQuality(int32_t value);
  void SetDPI(int32_t value);
  void SetGrayScale(bool value);
  void SetBackgroundColor(uint32_t value);

  void ResizeImage(int32_t width, int32_t height);
  void ScaleImage(int32_t factor);
  void ResizeBox(int32_t width, int32_t height);
  void RotateImage(float angle);
  void CropImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void FlipHorizontal();
  void FlipVertical();

  int32_t Width();
  int32_t Height();
  int32_t DPI();
  bool GrayScale();
  std::string Version();

 private:
  struct Object;
  std::unique_ptr<Object> object_;
};

}  // namespace quorvex::tools

// How the command line and the web host talk to a Resize object. Every call is one member of the
// object; a failing member raises DriverError with the object's own message.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/winapi.h"

namespace quorvex::client {

class DriverError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A member of the object failed; what() is the object's own message.
class ObjectError : public DriverError {
 public:
  using DriverError::DriverError;
};

// The component module a client drives: $QUORVEX_MODULE, or the one installed or built beside
// the tool (module_location.cpp).
std::string ModulePath();

// Runs the module's DllRegisterServer or DllUnregisterServer; returns its result.
HRESULT RunRegistration(bool doRegister);

// The ProgID of the class the driver creates.
inline constexpr char kResizeProgId[] = "Quorvex.Resize";

class ResizeDriver {
 public:
  enum class Creation {
    ModuleFactory,  // the module's own class factory: no registration needed
    ProgId          // CLSIDFromProgID and CoCreateInstance, as a page does
  };
  explicit ResizeDriver(Creation creation = Creation::ModuleFactory);
  ~ResizeDriver();
  ResizeDriver(const ResizeDriver&) = delete;
  ResizeDriver& operator=(const ResizeDriver&) = delete;

  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);
  std::vector<uint8_t> VariantOut();
  void VariantIn(const uint8_t* data, size_t size);
  // A load already fitted into the box: of the file by name, or of the bytes.
  void LoadThumbnail(const std::string& path, int32_t width, int32_t height);
  void LoadThumbnail(std::span<const uint8_t> bytes, int32_t width, int32_t height);
  // Writes the image into the response of the caller's object context.
  void StreamImage();

  void SetJPGQuality(int32_t value);
  void SetDPI(int32_t value);
  void SetGrayScale(bool value);
  void SetBackgroundColor(uint32_t value);
  void SetAutoOrient(bool value);
  void SetKeepMetadata(bool value);
  void SetMaxPixels(int32_t value);
  void SetProgressive(bool value);
  void SetOptimizeCoding(bool value);

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
  int32_t Orientation();
  std::string Version();

 private:
  struct Object;
  std::unique_ptr<Object> object_;
};

}  // namespace quorvex::client

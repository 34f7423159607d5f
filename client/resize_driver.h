// How the command line and the web host talk to a Resize object. Every call is one member of the
// object; a failing member raises DriverError with the object's own message.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/winapi.h"

namespace quorvex::client {

class DriverError : public std::runtime_error {
 public:
  explicit DriverError(const std::string& message, HRESULT code = E_FAIL)
      : std::runtime_error(message), code_(code) {}
  // The result the failing call gave: the exception's own code for a member that failed.
  HRESULT code() const { return code_; }
  // Whether memory ran out in the object, its codec or the call itself: a condition of the
  // moment, not of the request.
  bool outOfMemory() const;

 private:
  HRESULT code_;
};

// A member of the object failed; what() is the object's own message, and systemError() the
// system's error number the call left behind (0 when none), which may say why.
class ObjectError : public DriverError {
 public:
  explicit ObjectError(const std::string& message, HRESULT code = E_FAIL, int systemError = 0)
      : DriverError(message, code), systemError_(systemError) {}
  int systemError() const { return systemError_; }

 private:
  int systemError_;
};

// The component module a client drives: $QUORVEX_MODULE, or the one installed or built beside
// the tool (module_location.cpp).
std::string ModulePath();

// Runs the module's DllRegisterServer or DllUnregisterServer; returns its result.
HRESULT RunRegistration(bool doRegister);

// The ProgID of the class the driver creates.
inline constexpr char kResizeProgId[] = "Quorvex.Resize";

// Bytes for VariantIn and LoadThumbnail, held in the very array the call is given, so that a
// large input is filled in place and not copied on the way in.
class ByteArray {
 public:
  explicit ByteArray(size_t size);  // DriverError "Out of memory" when it cannot be had
  explicit ByteArray(std::span<const uint8_t> bytes);
  ~ByteArray();
  ByteArray(const ByteArray&) = delete;
  ByteArray& operator=(const ByteArray&) = delete;
  std::span<uint8_t> Bytes() const noexcept;

 private:
  friend class ResizeDriver;
  SAFEARRAY* array_;
};

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
  void VariantIn(const ByteArray& bytes);
  // A load already fitted into the box: of the file by name, or of the bytes.
  void LoadThumbnail(const std::string& path, int32_t width, int32_t height);
  void LoadThumbnail(const ByteArray& bytes, int32_t width, int32_t height);
  // Writes the image into the response of the caller's object context.
  void StreamImage();

  // Any member by name: a property set to the value, or a method called with the arguments,
  // which go as VT_I4, VT_R4, VT_R8, VT_BOOL or VT_BSTR.
  using Argument = std::variant<int32_t, float, double, bool, std::string>;
  void Put(const std::string& property, const Argument& value);
  void Invoke(const std::string& method, const std::vector<Argument>& arguments);

  void SetMaxPixels(int32_t value);

  int32_t Width();
  int32_t Height();
  int32_t DPI();
  bool GrayScale();
  int32_t Orientation();
  std::string Version();
  std::string ColorProfile();
  int32_t SourceQuality();
  // The loaded file's metadata as JSON text.
  std::string Metadata();

 private:
  struct Object;
  std::unique_ptr<Object> object_;
};

}  // namespace quorvex::client

// A private interface a host may offer the objects it runs: the object context's property
// kHostControlProperty holds an object answering IQvHostControl. Through it the long work of a
// call (decodes, transforms, encodes) asks whether the result is still wanted and reserves the
// memory a decode will take. A host that offers nothing gets work that runs to its end. Not part
// of the type library: only hosts built with this source know it.
#pragma once

#include "platform/winapi.h"

namespace quorvex {

// {6C1E2A57-93D4-4F0B-A8E2-5B7C1D3F9A60}
inline constexpr IID IID_IQvHostControl = {
    0x6c1e2a57, 0x93d4, 0x4f0b, {0xa8, 0xe2, 0x5b, 0x7c, 0x1d, 0x3f, 0x9a, 0x60}};

inline constexpr char kHostControlProperty[] = "QuorvexHostControl";

struct IQvHostControl : public IUnknown {
  // S_OK once the call should stop, S_FALSE while its result is wanted.
  virtual HRESULT STDMETHODCALLTYPE Cancelled() = 0;
  // S_OK when the bytes are the call's until the host's request ends; E_OUTOFMEMORY when the
  // host cannot give them.
  virtual HRESULT STDMETHODCALLTYPE Reserve(ULONGLONG bytes) = 0;
};

// {3F8B0C2D-71A4-4E59-9B6E-0D4C8A2F5E17}
inline constexpr IID IID_IQvHostMeter = {
    0x3f8b0c2d, 0x71a4, 0x4e59, {0x9b, 0x6e, 0x0d, 0x4c, 0x8a, 0x2f, 0x5e, 0x17}};

// What a host that counts the work it runs offers beside IQvHostControl, on the same object.
struct IQvHostMeter : public IUnknown {
  // A decode is about to make this many pixels.
  virtual HRESULT STDMETHODCALLTYPE Decoded(ULONGLONG pixels) = 0;
};

}  // namespace quorvex

// The object context a host sets up around a call into a component: what CoGetObjectContext
// hands out on the calling thread, with the web server's intrinsic objects as its named
// properties (IGetContextProperties::GetProperty(L"Response") gives the response as
// VT_DISPATCH). Contexts nest per thread; each Enter is matched by one Leave on that thread.
#pragma once

#include "platform/winapi.h"

#ifndef QV_BEGIN_C
#ifdef __cplusplus
#define QV_BEGIN_C extern "C" {
#define QV_END_C }
#else
#define QV_BEGIN_C
#define QV_END_C
#endif
#endif

QV_BEGIN_C

// Enters a context whose only property is "Response" (none when `response` is null).
HRESULT WINAPI QvEnterObjectContext(IDispatch* response);
// Enters a context with `count` named properties; the values are copied.
HRESULT WINAPI QvEnterObjectContextWith(UINT count, const LPCOLESTR* names, const VARIANT* values);
// Leaves the innermost context of the calling thread; E_UNEXPECTED when there is none.
HRESULT WINAPI QvLeaveObjectContext(void);

QV_END_C

#ifdef __cplusplus
namespace quorvex {

// The context of one call, for as long as the guard lives (on the thread that made it).
class ObjectContextScope {
 public:
  explicit ObjectContextScope(IDispatch* response)
      : entered_(SUCCEEDED(QvEnterObjectContext(response))) {}
  ObjectContextScope(const ObjectContextScope&) = delete;
  ObjectContextScope& operator=(const ObjectContextScope&) = delete;
  ~ObjectContextScope() {
    if (entered_) QvLeaveObjectContext();
  }
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

}  // namespace quorvex
#endif

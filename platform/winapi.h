// The one include point for the Windows platform interface. Component code includes this header
// and nothing else of the platform: the real Windows (or Wine) headers where they exist, the
// project's own stand-ins elsewhere. The names, signatures and binary layouts are the same.
#pragma once

#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
// The headers' min and max macros would hide std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// (windows.h first: the others build on it)
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#if __has_include(<comsvcs.h>)
#include <comsvcs.h>
#endif
#if __has_include(<asptlb.h>)
#include <asptlb.h>
#else
#include "platform/native/asptlb.h"
#endif
#else
#include "platform/native/asptlb.h"
#include "platform/native/comsvcs.h"
#include "platform/native/oaidl.h"
#include "platform/native/objbase.h"
#include "platform/native/ocidl.h"
#include "platform/native/oleauto.h"
#include "platform/native/unknwn.h"
#include "platform/native/winbase.h"
#include "platform/native/winreg.h"
#include "platform/native/wintypes.h"
#endif

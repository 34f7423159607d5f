// The one include point for the Windows platform interface. Component code includes this header
// and nothing else of the platform: the real Windows (or Wine) headers where they exist, the
// project's own stand-ins elsewhere. The names, signatures and binary layouts are the same.
#pragma once

#if defined(_WIN32) || defined(QUORVEX_WINDOWS_HEADERS)
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#else
#include "platform/native/wintypes.h"
#include "platform/native/unknwn.h"
#include "platform/native/oleauto.h"
#endif

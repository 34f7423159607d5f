// IResize and the library's GUIDs, declared from component/Quorvex.idl by the build: by the
// platform's IDL compiler on Windows and Wine, by quorvex-idlc (platform/idlc/) here. The GUID
// definitions are in the generated Quorvex_i.c (the quorvex_interface library).
#pragma once

// The platform headers first: an IDL compiler's header expects them included.
// clang-format off
#include "platform/winapi.h"
#include "Quorvex_h.h"
// clang-format on

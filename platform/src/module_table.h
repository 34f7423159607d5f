// Modules for the platform's own sources: paths, bases and the dynamic loader handles behind
// LoadLibraryW. An HMODULE is the base address at which a module is mapped.
#pragma once

#include <string>

#include "platform/winapi.h"

namespace platform_detail {

// The base of the module containing `address`, or null.
HMODULE ModuleFromAddress(const void* address);
// The file of a module, as an absolute path in UTF-8; empty when `module` is not a module base.
std::string ModulePath(HMODULE module);
// The platform library itself; it stands in for the Windows system modules.
HMODULE PlatformModule();
// Whether `name` ("OLE32.DLL", "oleaut32", a path ending in one) names a Windows system module.
bool IsSystemModuleName(std::u16string_view name);
// Loads a module by path (UTF-8) and counts the reference; null and an error code on failure.
HMODULE LoadModule(const std::string& path, DWORD* error);
bool FreeModule(HMODULE module);
void* ModuleSymbol(HMODULE module, const char* name);

}  // namespace platform_detail

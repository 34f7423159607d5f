// C and C++ declarations of a parsed interface description, as an IDL compiler writes them: a
// header with the GUIDs' declarations and each interface both as a C++ abstract class and as a C
// function table (lpVtbl), and a C source that defines the GUIDs.
#pragma once

#include <string>

#include "platform/src/idl_model.h"

namespace platform_detail::idl {

// `source` names the description in the files' opening comment. Both throw ParseError for what
// cannot be declared (an interface whose base is neither in the library nor IUnknown/IDispatch).
std::string HeaderText(const Library& library, const std::string& source);
std::string GuidSourceText(const Library& library, const std::string& source,
                           const std::string& header);

}  // namespace platform_detail::idl

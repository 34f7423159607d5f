# Cross-compiling the component as a Windows DLL with Debian's MinGW-w64 toolchain (the posix
# thread model, which C++ threads and std::call_once need). Set QUORVEX_WINDOWS_TRIPLE before
# including this file: cmake/WindowsToolchain-x86_64.cmake and -i686.cmake do.
set(CMAKE_SYSTEM_NAME Windows)
if(QUORVEX_WINDOWS_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR X86)
endif()
set(CMAKE_C_COMPILER ${QUORVEX_WINDOWS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_WINDOWS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_WINDOWS_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${QUORVEX_WINDOWS_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_WINDOWS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

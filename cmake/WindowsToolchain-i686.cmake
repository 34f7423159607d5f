# The 32-bit Windows DLL (PE32, x86), for 32-bit worker processes.
set(QUORVEX_WINDOWS_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsToolchain.cmake)

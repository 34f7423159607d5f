# The 64-bit Windows DLL (PE32+, x64).
set(QUORVEX_WINDOWS_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/WindowsToolchain.cmake)

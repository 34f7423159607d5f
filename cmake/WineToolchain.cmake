# Winelib: the component compiled with Wine's compiler drivers against Wine's Windows headers and
# linked as a module that Wine loads like a Windows library. Use with wine/CMakeLists.txt:
#   cmake -S wine -B build/wine -G Ninja --toolchain cmake/WineToolchain.cmake
# Needs wine, wine64 and wine64-tools (winegcc, wineg++, winebuild, widl, wrc).
find_program(WINEGCC winegcc REQUIRED)
find_program(WINEGXX wineg++ REQUIRED)
set(CMAKE_C_COMPILER ${WINEGCC})
set(CMAKE_CXX_COMPILER ${WINEGXX})

# The drivers link executables as NAME.exe.so beside a launcher script, which the compiler checks
# would not find; checking by static libraries avoids linking.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

find_program(WINE_WIDL widl REQUIRED)
find_program(WINE_WRC wrc REQUIRED)
# Wine's IDL files (for widl's imports) and its type libraries (for importlib("stdole2.tlb")).
find_path(WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
          /usr/local/include/wine/windows NO_DEFAULT_PATH REQUIRED)
find_path(WINE_TYPELIB_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib64/wine/x86_64-windows
                /usr/lib/wine/x86_64-windows /usr/local/lib/wine/x86_64-windows
          NO_DEFAULT_PATH REQUIRED)

# The drivers make wchar_t 16 bits wide so that it can be WCHAR, but libstdc++'s wide-character
# code is built for 32 bits. Keep wchar_t as the C++ library knows it; WCHAR is then char16_t.
set(CMAKE_C_FLAGS_INIT "-fno-short-wchar -UWINE_UNICODE_NATIVE")
set(CMAKE_CXX_FLAGS_INIT "-fno-short-wchar -UWINE_UNICODE_NATIVE")

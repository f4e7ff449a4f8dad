# Cross build for 64-bit Windows with mingw-w64 (the posix thread model, for std::thread).
# The runtime is linked statically, so the programs need no DLL beside them; the tests run
# under Wine.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAWLEX_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TRAWLEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRAWLEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRAWLEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAWLEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Unicode API names (CreateFileW for CreateFile), Windows 7 and later, no min/max macros.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib (libz-mingw-w64-dev) linked in as well, not as a DLL the programs would need.
set(ZLIB_USE_STATIC_LIBS ON)
# This compiler warns about overlapping copies inside its own string header that cannot happen.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# Test programs and test discovery run through Wine.
find_program(TRAWLEX_WINE NAMES wine wine64)
if(TRAWLEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRAWLEX_WINE})
endif()

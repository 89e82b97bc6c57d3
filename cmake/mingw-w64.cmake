# Cross build for 64-bit Windows with Debian's mingw-w64 (GCC, posix threads:
# std::thread and std::mutex need them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVALEN_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KORVALEN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVALEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVALEN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVALEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the compiler's runtime, so they run from any folder
# without its DLLs beside them.
# zlib too, not its DLL.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(KORVALEN_WINE NAMES wine)
if(KORVALEN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVALEN_WINE})
endif()

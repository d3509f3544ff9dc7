# Cross-compiles the Windows build with mingw-w64 (posix threads variant, so
# std::thread and friends work). The static dependencies live in the prefix
# that scripts/windows-deps prints: pass it as -DNX_WIN_PREFIX=... (or in the
# environment). Programs run under wine through scripts/windows-run, so CTest
# and gtest discovery work unchanged.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NX_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NX_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NX_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${NX_MINGW_HOST}-windres)

if(NOT NX_WIN_PREFIX AND DEFINED ENV{NX_WIN_PREFIX})
  set(NX_WIN_PREFIX $ENV{NX_WIN_PREFIX})
endif()
if(NOT NX_WIN_PREFIX)
  message(FATAL_ERROR "NX_WIN_PREFIX is not set: run scripts/windows-deps and pass the prefix it prints")
endif()
# try_compile projects read this file again: hand the prefix on to them.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NX_WIN_PREFIX)
set(ENV{NX_WIN_PREFIX} ${NX_WIN_PREFIX})

set(CMAKE_FIND_ROOT_PATH ${NX_WIN_PREFIX} /usr/${NX_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees only the prefix's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} ${NX_WIN_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Without -static every program needs the mingw runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
get_filename_component(NX_TOOLCHAIN_DIR ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${NX_TOOLCHAIN_DIR}/../scripts/windows-run)

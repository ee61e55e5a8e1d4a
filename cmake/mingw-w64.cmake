# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model), linking everything statically, so that an .exe needs no DLL beside
# it. Libraries built for Windows (the MySQL C API, GoogleTest) are looked up
# only in HALVORN_WINDOWS_SYSROOT, never among the host's; tests run under wine.
#
#   cmake -S . -B build/windows/programs \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DHALVORN_WINDOWS_SYSROOT=$PWD/build/windows/sysroot
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVORN_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HALVORN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVORN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVORN_MINGW}-windres)

# try_compile runs this file again in a project of its own: hand the sysroot on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVORN_WINDOWS_SYSROOT)
if(NOT HALVORN_WINDOWS_SYSROOT AND DEFINED ENV{HALVORN_WINDOWS_SYSROOT})
  set(HALVORN_WINDOWS_SYSROOT $ENV{HALVORN_WINDOWS_SYSROOT})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${HALVORN_MINGW} ${HALVORN_WINDOWS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the sysroot's .pc files, never the host's libraries.
if(HALVORN_WINDOWS_SYSROOT)
  set(ENV{PKG_CONFIG_LIBDIR} ${HALVORN_WINDOWS_SYSROOT}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Runs the test programs (and GoogleTest's discovery) under wine, through
# wine_test.sh, which keeps wine's messages of each run (see there).
find_program(HALVORN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(HALVORN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine_test.sh ${HALVORN_WINE})
endif()

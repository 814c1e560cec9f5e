# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, for std::thread), e.g.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked statically (libstdc++, libgcc, winpthread), so that
# they run on a bare Windows machine; ctest runs them under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# Libraries built for the target elsewhere (Qt 6 for Windows, from
# scripts/qt-windows.sh) are searched too when their prefixes are given in
# ORVANTA_TARGET_PREFIXES.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${ORVANTA_TARGET_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# No interprocedural register allocation. With it, GCC lets a caller keep
# values in registers that its own copy of an inline or template function
# leaves alone; but a program linked from objects built with other options
# (Qt for Windows is built for size) keeps only one copy of each such
# function, and on this target the callers compiled against the other copy
# then lose registers the ABI lets the callee clobber. Qt's std::mt19937
# behind every temporary file crashed that way. Qt and the programs are both
# built with this file.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-ra")

# Test programs run under wine64 (Debian installs it outside PATH).
find_program(ORVANTA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ORVANTA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVANTA_WINE})
endif()

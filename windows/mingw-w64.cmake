# Toolchain for 64-bit Windows programs built on Debian with MinGW-w64 (the
# POSIX-threads variant, for std::thread) and run there through Wine:
#   cmake -S . -B build/windows/build -DCMAKE_TOOLCHAIN_FILE=windows/mingw-w64.cmake
# (`make windows` does this with the FFTW and GoogleTest options set).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the programs through Wine, with its prefix (its C: drive and
# registry) inside the build folder and without its debug chatter or the
# offers to install Mono and Gecko.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(MELODRIFT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(MELODRIFT_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
        ${MELODRIFT_WINE})
  endif()
endif()

# The static Qt for Windows (windows/build-qt.sh): its prefix joins the
# roots the cross build searches, so find_package(Qt6) finds it there; Qt's
# tools (moc, rcc, uic) are the build machine's own, of the same version.
if(MELODRIFT_QT_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${MELODRIFT_QT_PREFIX})
  list(PREPEND CMAKE_PREFIX_PATH ${MELODRIFT_QT_PREFIX})
  set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools are")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "The build machine's Qt CMake packages")
endif()

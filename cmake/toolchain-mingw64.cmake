# Cross-builds the Windows core with Debian's mingw-w64 (the POSIX-threads flavour, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FOLVIO_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${FOLVIO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FOLVIO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FOLVIO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FOLVIO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks at the Windows libraries only, never at Linux's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${FOLVIO_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The tests run under Wine; ctest starts each through it.
find_program(FOLVIO_WINE wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(FOLVIO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FOLVIO_WINE})
endif()

# Cross compiling for 64-bit Windows with Debian's MinGW-w64 compilers of the
# POSIX thread model (std::thread and friends over winpthreads).
#
# Libraries are searched in the MinGW system root and in the prefix that
# scripts/windows-deps fills (TALVEN_CROSS_PREFIX, default: its cache), and
# pkg-config reads only that prefix's .pc files, never the build machine's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVEN_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVEN_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVEN_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVEN_MINGW_HOST}-windres)
set(CMAKE_AR ${TALVEN_MINGW_HOST}-ar CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${TALVEN_MINGW_HOST}-ranlib CACHE FILEPATH "archive indexer")

if(NOT TALVEN_CROSS_PREFIX)
  if(DEFINED ENV{TALVEN_CROSS_PREFIX})
    set(TALVEN_CROSS_PREFIX $ENV{TALVEN_CROSS_PREFIX})
  elseif(DEFINED ENV{TALVEN_CROSS_CACHE})
    set(TALVEN_CROSS_PREFIX $ENV{TALVEN_CROSS_CACHE}/windows-x64/prefix)
  else()
    set(TALVEN_CROSS_PREFIX $ENV{HOME}/.cache/talven-cross/windows-x64/prefix)
  endif()
endif()
# try_compile projects read this file again and need the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVEN_CROSS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${TALVEN_MINGW_HOST} ${TALVEN_CROSS_PREFIX})
set(CMAKE_PREFIX_PATH ${TALVEN_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR} ${TALVEN_CROSS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

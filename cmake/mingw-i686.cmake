# Cross build of the 32-bit Windows program with a mingw-w64 i686 compiler for an 80486 and later.
# By default the stock compiler (Debian package g++-mingw-w64-i686); with
# -DRINGWARDEN_MINGW_PREFIX=DIR the one of scripts/i486-toolchain, whose
# runtime is built for the 80486 too. The win32 thread model keeps the program
# free of a threads library: it needs system libraries only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(RINGWARDEN_MINGW_TRIPLET i686-w64-mingw32)
set(RINGWARDEN_MINGW_PREFIX "" CACHE PATH "Prefix of the i486 cross toolchain; empty for the stock compiler")
# The checks that try compiling read this file anew and need the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RINGWARDEN_MINGW_PREFIX)

if(RINGWARDEN_MINGW_PREFIX)
  set(search HINTS ${RINGWARDEN_MINGW_PREFIX}/bin NO_DEFAULT_PATH)
  set(CMAKE_FIND_ROOT_PATH ${RINGWARDEN_MINGW_PREFIX}/${RINGWARDEN_MINGW_TRIPLET})
else()
  set(search)
  set(CMAKE_FIND_ROOT_PATH /usr/${RINGWARDEN_MINGW_TRIPLET})
endif()
find_program(CMAKE_C_COMPILER NAMES ${RINGWARDEN_MINGW_TRIPLET}-gcc-win32 ${RINGWARDEN_MINGW_TRIPLET}-gcc ${search} REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${RINGWARDEN_MINGW_TRIPLET}-g++-win32 ${RINGWARDEN_MINGW_TRIPLET}-g++ ${search} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RINGWARDEN_MINGW_TRIPLET}-windres ${search} REQUIRED)

# The stock compiler's default is the Pentium Pro, whose conditional moves and
# compares fault on a Pentium, a K6, a 6x86 or a 486.
set(CMAKE_C_FLAGS_INIT "-march=i486")
set(CMAKE_CXX_FLAGS_INIT "-march=i486")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

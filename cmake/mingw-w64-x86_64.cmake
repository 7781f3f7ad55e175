# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers. The
# -posix flavour: its std::thread and std::mutex are what Qt and the program use.
# VELMAR_WINDOWS_PREFIXES (a list, from the environment or -D) names the
# folders holding the Windows builds of Qt, SQLite and libcurl.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMAR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMAR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMAR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMAR_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VELMAR_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VELMAR_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

if(NOT VELMAR_WINDOWS_PREFIXES AND DEFINED ENV{VELMAR_WINDOWS_PREFIXES})
  set(VELMAR_WINDOWS_PREFIXES "$ENV{VELMAR_WINDOWS_PREFIXES}")
endif()
# try_compile() projects see the toolchain file again, not the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMAR_WINDOWS_PREFIXES)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMAR_MINGW_TRIPLET} ${VELMAR_WINDOWS_PREFIXES})
# Programs (moc, uic, python) come from the build machine; libraries, headers
# and CMake packages only from the Windows folders above.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Cross-compiling for Windows with MinGW-w64: what both toolchain files
# (mingw-i686.cmake, mingw-x86_64.cmake) share. They set
# CMAKE_SYSTEM_PROCESSOR, TH_MINGW_TRIPLET (i686-w64-mingw32) and
# TH_MINGW_DEBIAN (the Debian packages' suffix, i686 or x86-64) first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_RC_COMPILER ${TH_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TH_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The posix thread model of MinGW-w64 is needed for std::thread and friends:
# the -posix compilers, never the default (win32) ones.
find_program(TH_MINGW_CXX ${TH_MINGW_TRIPLET}-g++-posix)
find_program(TH_MINGW_CC ${TH_MINGW_TRIPLET}-gcc-posix)
if(NOT TH_MINGW_CXX OR NOT TH_MINGW_CC)
  message(FATAL_ERROR "The Windows build needs the posix-thread MinGW-w64 compilers "
                      "${TH_MINGW_TRIPLET}-g++-posix and -gcc-posix (Debian packages "
                      "g++-mingw-w64-${TH_MINGW_DEBIAN}-posix, gcc-mingw-w64-${TH_MINGW_DEBIAN}-posix)")
endif()
set(CMAKE_CXX_COMPILER ${TH_MINGW_CXX})
set(CMAKE_C_COMPILER ${TH_MINGW_CC})

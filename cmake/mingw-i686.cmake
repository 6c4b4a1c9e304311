# Cross-compiling for Windows with MinGW-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TH_MINGW_TRIPLET i686-w64-mingw32)
set(TH_MINGW_DEBIAN i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

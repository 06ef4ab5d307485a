# Cross compilation for 32-bit Windows (i686), the architecture desktop-character hosts load
# their modules in, with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZELKA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

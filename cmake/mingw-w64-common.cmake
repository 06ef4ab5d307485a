# Shared part of the MinGW-w64 cross toolchains (Debian's g++-mingw-w64-*-posix compilers,
# POSIX thread model). The including file sets ZELKA_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZELKA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELKA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELKA_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross environment only; programs from the build machine.
# Packages built for the target (pugixml, GoogleTest) are named with <Package>_DIR.
set(CMAKE_FIND_ROOT_PATH /usr/${ZELKA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# windows.h without its min/max macros and rarely used parts; Windows 7 or later. GCC 12
# reports false overlaps inside std::string copies at -O3 (-Wrestrict); they are silenced.
set(CMAKE_C_FLAGS_INIT "-DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 -Wno-restrict")

# Everything linked in statically: the module and the test programs import only system
# libraries (KERNEL32, msvcrt), never the compiler's runtime libraries.
set(ZELKA_STATIC_LINK "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${ZELKA_STATIC_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${ZELKA_STATIC_LINK}")
# The module ships without its symbol table.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${ZELKA_STATIC_LINK} -s")

# Cross-build for 64-bit Windows with mingw-w64 (the -posix thread model,
# so std::thread and std::mutex work), linked statically: the programs need
# only DLLs that every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TVQ_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TVQ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TVQ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TVQ_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TVQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine.
find_program(TVQ_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TVQ_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TVQ_WINE64})
endif()

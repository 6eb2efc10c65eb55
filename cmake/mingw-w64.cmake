# Cross build for Windows with Debian's MinGW-w64: 64-bit (package g++-mingw-w64-x86-64-posix)
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTOVRIK_BUILD_GUI=OFF
# or 32-bit x86 through cmake/mingw-w64-i686.cmake (package g++-mingw-w64-i686-posix), which sets
# TOVRIK_MINGW_PROCESSOR before it includes this file.
# The 64-bit tests then run under Wine through scripts/wine-run (see tests/CMakeLists.txt); no
# 32-bit program can run on the build machines.
if(NOT DEFINED TOVRIK_MINGW_PROCESSOR)
    set(TOVRIK_MINGW_PROCESSOR x86_64)
endif()
set(triplet ${TOVRIK_MINGW_PROCESSOR}-w64-mingw32)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOVRIK_MINGW_PROCESSOR})

# The -posix compilers: their thread model gives std::thread, std::mutex and
# std::condition_variable (the win32 one has none of them), which the core and GoogleTest use.
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs without the compiler's runtime DLLs beside it (libgcc, libstdc++ and the
# POSIX thread library winpthread are linked in).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
if(TOVRIK_MINGW_PROCESSOR STREQUAL "i686")
    # A 32-bit program on 64-bit Windows may then use 4 GB of address space instead of 2 GB.
    string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--large-address-aware")
endif()
unset(triplet)

# Cross build for 32-bit x86 Windows (package g++-mingw-w64-i686-posix), for suites whose ODBC
# driver exists for 32 bits only:
#   cmake -S . -B build-windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
#         -DTOVRIK_BUILD_GUI=OFF -DTOVRIK_BUILD_TESTS=OFF
# Its programs are checked statically only (scripts/package-windows.sh): the build machines run
# no 32-bit code.
set(TOVRIK_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

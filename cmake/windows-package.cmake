# The settings of the Windows packages' cross builds, given to cmake with -C by
# scripts/package-windows.sh and scripts/make-guide.sh (which share the 64-bit build): Release,
# warnings as errors, no tests, the Windows window instead of the Qt one.
set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
set(TOVRIK_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(TOVRIK_BUILD_GUI OFF CACHE BOOL "" FORCE)
set(TOVRIK_WERROR ON CACHE BOOL "" FORCE)

# The 64-bit Windows edition: loads the 64-bit plug-ins most musicians own.
set(TALVENOR_MINGW_ARCH x86_64)
set(TALVENOR_WINE_ARCH 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-posix.cmake)

# The 32-bit Windows edition (the one shipped first).
set(TALVENOR_MINGW_ARCH i686)
set(TALVENOR_WINE_ARCH 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-posix.cmake)

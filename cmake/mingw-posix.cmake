# Shared by the two MinGW-w64 toolchain files: the caller sets TALVENOR_MINGW_ARCH
# (i686 or x86_64) and TALVENOR_WINE_ARCH (32 or 64) before including this.
# Posix thread model, so std::thread and std::mutex exist; Windows executables
# run under Wine in the test bench of their width.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TALVENOR_MINGW_ARCH})

set(TOOLCHAIN_PREFIX ${TALVENOR_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# SSE2 arithmetic: single precision stays single precision (no 80-bit x87
# intermediates) and the audio thread can set flush-to-zero. (x86-64 has it anyway.)
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# Every .exe and .dll runs alone: the C and C++ runtimes and winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

get_filename_component(_talvenor_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_talvenor_root}/scripts/wine-run;--arch;${TALVENOR_WINE_ARCH}")

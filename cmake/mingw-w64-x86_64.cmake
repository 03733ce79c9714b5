# Cross build for 64-bit Windows, for testing only: the same sources as the
# 32-bit product, run under Wine's 64-bit loader on hosts whose kernel does
# not run 32-bit code (there the 32-bit loader cannot start at all).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

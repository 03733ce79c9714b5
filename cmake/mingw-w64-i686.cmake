# Cross build for 32-bit Windows (the product) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Its tests run under Wine's 32-bit loader, where the host runs 32-bit code.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)

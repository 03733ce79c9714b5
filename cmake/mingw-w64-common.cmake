# Shared part of the mingw-w64 cross toolchains; TOOLCHAIN_PREFIX and
# CMAKE_SYSTEM_PROCESSOR are set by the including file.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GCC 12's win32 model has no std::mutex, which
# GoogleTest needs. Linked with -static, winpthread goes into the binary, so
# nothing beyond the system's own DLLs is needed at run time.
find_program(CMAKE_C_COMPILER NAMES ${TOOLCHAIN_PREFIX}-gcc-posix ${TOOLCHAIN_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOOLCHAIN_PREFIX}-g++-posix ${TOOLCHAIN_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TOOLCHAIN_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

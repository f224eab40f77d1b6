# Cross-compiles for Windows with Debian's MinGW-w64, for the processor that
# the including toolchain file names. The posix thread model is needed by
# GoogleTest; the program itself uses no threads.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

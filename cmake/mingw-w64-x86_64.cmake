# Cross-compiles for 64-bit Windows with MinGW-w64 (posix thread model, for std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DROPLEAF_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DROPLEAF_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DROPLEAF_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DROPLEAF_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DROPLEAF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages too: the host's GoogleTest, built for Linux, is no use to a Windows program.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests built for Windows run here through Wine, in a prefix private to the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# Cross-compiles Windows programs with the posix-thread mingw-w64 compilers: 32-bit ones, or
# 64-bit ones where GLIM_TARGET_ARCH is x86_64.
set(GLIM_TARGET_ARCH i686 CACHE STRING "i686 or x86_64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLIM_TARGET_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${GLIM_TARGET_ARCH})

set(CMAKE_C_COMPILER ${GLIM_TARGET_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIM_TARGET_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${GLIM_TARGET_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GLIM_TARGET_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run the Windows executables under Wine, in the build's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run")

# Cross-building for Windows x64 on Debian with MinGW-w64 (packages
# g++-mingw-w64-x86-64-posix and libz-mingw-w64-dev; scripts/install-deps.sh
# windows installs them). The -posix compilers give std::thread and
# std::mutex through winpthreads, which -static links into the executable.
#
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PLIMSY_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PLIMSY_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLIMSY_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PLIMSY_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${PLIMSY_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target's executables")

# Libraries and headers come from the MinGW-w64 tree only, never from the
# host's /usr: a host zlib or glibc header in a Windows build would be wrong.
set(CMAKE_FIND_ROOT_PATH /usr/${PLIMSY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

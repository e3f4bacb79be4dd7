# Shared part of the mingw-w64 cross toolchains. The including file sets
# HALVORN_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the full C++ thread library; everything is
# linked statically below, so the programs need no DLL from the toolchain.
set(CMAKE_C_COMPILER ${HALVORN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVORN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVORN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HALVORN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into every .exe and .dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's libgtest-dev holds Linux libraries only; the googletest package
# ships the sources, which cmake/gtest-cross builds inside the cross build.
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest-cross)
endif()

# Cross toolchain for the 32-bit Windows console program (mingw-w64, i686).
# 32-bit Windows programs cannot run on this machine's kernel under wine64, so
# this build has no emulator: it is built, not run.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HALVORN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

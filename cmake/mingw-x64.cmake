# Cross toolchain for the 64-bit Windows build (mingw-w64, x86_64); its
# programs and tests run under wine64 through cmake/wine-run.sh.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HALVORN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

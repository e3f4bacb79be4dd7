# GoogleTest for the Windows cross builds: found through GTest_DIR (set by the
# mingw toolchains), it builds the googletest sources that Debian ships in
# /usr/src/googletest as part of this build. Their CMake defines the
# GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main targets.
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
set(GTest_FOUND TRUE)

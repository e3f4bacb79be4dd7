# Registers golden cases with CTest: one test per case folder.
#
#   include(${CMAKE_SOURCE_DIR}/tests/golden/Golden.cmake)
#   halvorn_golden_cases(PREFIX tool
#                        PROGRAM halvorn-scripted
#                        CASES ${CMAKE_CURRENT_SOURCE_DIR}/cases
#                        [SETUP ${CMAKE_CURRENT_SOURCE_DIR}/setup.sh]
#                        [TOOLS builder-target ...]
#                        [WATCH NAME ...])
#
# Every folder under CASES that holds a file "args" is a case; the test is
# named PREFIX.FOLDER. SETUP is the setup step of the cases that have no
# setup.sh of their own. The folders of the TOOLS targets are put on PATH for
# the setup step. WATCH names output files compared beside LASTREC.DMP,
# HALVORN.UNF and calls.log. A cross build runs the program through
# CMAKE_CROSSCOMPILING_EMULATOR, and a Windows build prefers the expected
# files named NAME.windows where a case has them.
include_guard(GLOBAL)

function(halvorn_golden_cases)
  cmake_parse_arguments(G "" "PREFIX;PROGRAM;CASES;SETUP" "TOOLS;WATCH" ${ARGN})
  set(runner "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run-case.sh")
  set(options)
  foreach(word ${CMAKE_CROSSCOMPILING_EMULATOR})
    list(APPEND options --emulator "${word}")
  endforeach()
  foreach(tool ${G_TOOLS})
    list(APPEND options --path "$<TARGET_FILE_DIR:${tool}>")
  endforeach()
  foreach(name ${G_WATCH})
    list(APPEND options --watch "${name}")
  endforeach()
  if(G_SETUP)
    list(APPEND options --setup "${G_SETUP}")
  endif()
  if(WIN32)
    list(APPEND options --platform windows)
  endif()
  file(GLOB entries LIST_DIRECTORIES true "${G_CASES}/*")
  foreach(entry ${entries})
    if(IS_DIRECTORY "${entry}" AND EXISTS "${entry}/args")
      get_filename_component(case "${entry}" NAME)
      add_test(NAME "${G_PREFIX}.${case}"
               COMMAND bash "${runner}" ${options}
                       "$<TARGET_FILE:${G_PROGRAM}>" "${entry}")
      set_tests_properties("${G_PREFIX}.${case}" PROPERTIES LABELS golden)
    endif()
  endforeach()
  # Cases added or removed are picked up at the next build.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${G_CASES}")
endfunction()

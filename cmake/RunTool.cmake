# Runs a program in a fresh folder of its own and checks what it did: its
# standard output, standard error and exit code, byte for byte, either against
# given expectations or against a second program run the same way (the same
# arguments, a folder at the same depth), LASTREC.DMP included.
#
#   cmake -DTOOL=<program> [-DEMULATOR=<runner>] -DWORK=<folder>
#         [-DBESIDE=<file;...>]      files copied beside the program
#         [-DINPUTS=<file;...>]      files copied into the folder of every run
#         [-DARGS="<arg> <arg>..."]
#         [-DEXPECT_EXIT=<code>] [-DEXPECT_STDOUT=<text>] [-DEXPECT_STDERR=<text>]
#         [-DREFERENCE=<program>]    compare everything with this program's run
#         -P RunTool.cmake
#
# The program is copied into its folder, so that a library beside it is found
# only when BESIDE puts one there. Every run works on copies of its INPUTS:
# the library's read-only open is exclusive, so two runs at the same time on
# one file would turn each other away. Expected texts may use \n and \r
# escapes.

cmake_minimum_required(VERSION 3.20)

function(run_in folder program emulator)
  file(REMOVE_RECURSE "${folder}")
  file(MAKE_DIRECTORY "${folder}")
  get_filename_component(name "${program}" NAME)
  file(COPY "${program}" DESTINATION "${folder}")
  foreach(extra ${BESIDE} ${INPUTS})
    file(COPY "${extra}" DESTINATION "${folder}")
  endforeach()
  separate_arguments(arguments UNIX_COMMAND "${ARGS}")
  execute_process(COMMAND ${emulator} "${folder}/${name}" ${arguments}
                  WORKING_DIRECTORY "${folder}"
                  INPUT_FILE /dev/null
                  OUTPUT_FILE "${folder}/stdout.txt"
                  ERROR_FILE "${folder}/stderr.txt"
                  RESULT_VARIABLE code)
  file(WRITE "${folder}/exit.txt" "${code}\n")
endfunction()

function(expect_text file expected)
  string(REPLACE "\\n" "\n" expected "${expected}")
  string(REPLACE "\\r" "\r" expected "${expected}")
  file(READ "${file}" actual)
  if(NOT actual STREQUAL expected)
    message(SEND_ERROR "${file} differs.\n--- expected\n${expected}\n--- actual\n${actual}")
  endif()
endfunction()

function(expect_same first second)
  set(have_first 0)
  set(have_second 0)
  if(EXISTS "${first}")
    set(have_first 1)
  endif()
  if(EXISTS "${second}")
    set(have_second 1)
  endif()
  if(NOT have_first EQUAL have_second)
    message(SEND_ERROR "only one run wrote ${first} / ${second}")
    return()
  endif()
  if(NOT have_first)
    return()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${first}" "${second}"
                  RESULT_VARIABLE differ)
  if(differ)
    # Shown as hexadecimal: the dumps and exports are binary.
    file(SIZE "${first}" size_a)
    file(SIZE "${second}" size_b)
    file(READ "${first}" a LIMIT 256 HEX)
    file(READ "${second}" b LIMIT 256 HEX)
    message(SEND_ERROR "${first} (${size_a} bytes) and ${second} (${size_b} bytes) differ."
                       "\n--- tested, first 256 bytes\n${a}\n--- reference\n${b}")
  endif()
endfunction()

run_in("${WORK}/tested" "${TOOL}" "${EMULATOR}")

if(DEFINED EXPECT_EXIT)
  expect_text("${WORK}/tested/exit.txt" "${EXPECT_EXIT}\n")
endif()
if(DEFINED EXPECT_STDOUT)
  expect_text("${WORK}/tested/stdout.txt" "${EXPECT_STDOUT}")
endif()
if(DEFINED EXPECT_STDERR)
  expect_text("${WORK}/tested/stderr.txt" "${EXPECT_STDERR}")
endif()

if(DEFINED REFERENCE)
  set(BESIDE "")
  run_in("${WORK}/reference" "${REFERENCE}" "")
  foreach(output exit.txt stdout.txt stderr.txt LASTREC.DMP HALVORN.UNF)
    expect_same("${WORK}/tested/${output}" "${WORK}/reference/${output}")
  endforeach()
  # A walk ends in a summary on standard output, a key-only walk in the
  # export file: a run that wrote neither did not get to walk.
  file(SIZE "${WORK}/tested/stdout.txt" size)
  if(size EQUAL 0 AND EXISTS "${WORK}/tested/HALVORN.UNF")
    file(SIZE "${WORK}/tested/HALVORN.UNF" size)
  endif()
  if(size EQUAL 0)
    message(SEND_ERROR "the run wrote neither a summary nor an export")
  endif()
endif()

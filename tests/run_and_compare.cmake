# Runs COMMAND (its words joined by '|'), with standard input from INPUT if given, and fails
# unless it exits with STATUS and, if EXPECTED names a file, prints exactly that file's bytes
# (the output is kept in OUTPUT).
string(REPLACE "|" ";" command "${COMMAND}")
set(input_option)
if(INPUT)
  set(input_option INPUT_FILE ${INPUT})
endif()
execute_process(COMMAND ${command} ${input_option}
                OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}: ${command}")
endif()
if(EXPECTED)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                          ${OUTPUT} ${EXPECTED}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "the output differs from ${EXPECTED}: ${command}")
  endif()
endif()

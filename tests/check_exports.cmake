# Lists the dynamic symbols that LIBRARY defines and fails unless they are exactly the
# library's exported functions.
set(expected
  marllib_AddTag marllib_Close marllib_Create marllib_GetCollection marllib_GetName marllib_Load
  marllib_GetTagByName marllib_GetTags marllib_GetTagsByName marllib_GetValue
  marllib_SetName marllib_SetValue)
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(found)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" symbol "${line}")
  list(APPEND found ${symbol})
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${found}")
endif()
message(STATUS "exports: ${found}")

# Makes the Windows ZIP archive with CPACK, unpacks it into WORK, and fails unless it holds
# exactly the files Windows hosts get (and nothing else from the build tree), its DLL passes
# check_dll.cmake, and the C host test builds with the MinGW compiler CC from the archive's
# headers and MSVC import library alone. The host lands in WORK/bin beside the DLL; another
# test runs it under Wine.
foreach(variable CPACK BUILD_DIR ARCHIVE WORK CC OBJDUMP BITS VERSION HOST_SOURCE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_archive.cmake needs -D${variable}=...")
  endif()
endforeach()

execute_process(COMMAND ${CPACK} -G ZIP WORKING_DIRECTORY ${BUILD_DIR}
                OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed)
if(failed OR NOT EXISTS ${ARCHIVE})
  message(FATAL_ERROR "cpack did not make ${ARCHIVE}:\n${output}")
endif()
file(REMOVE_RECURSE ${WORK})
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${WORK})

set(expected LICENSE README.txt bin/marl.exe bin/marllib.dll include/marllib.h
    include/marllib.hpp include/marllib_version.h lib/libmarllib.dll.a lib/marllib.def
    lib/marllib.lib)
file(GLOB_RECURSE found RELATIVE ${WORK} ${WORK}/*)
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "the archive's files differ\n  expected: ${expected}\n  found:    ${found}")
endif()

set(LIBRARY ${WORK}/bin/marllib.dll)
include(${CMAKE_CURRENT_LIST_DIR}/check_dll.cmake)

string(REPLACE "." ";" numbers "${VERSION}")
list(GET numbers 0 major)
list(GET numbers 1 minor)
list(GET numbers 2 patch)
execute_process(
  COMMAND ${CC} -std=c99 -Wall -Wextra -Wpedantic -Werror -static -I ${WORK}/include
          -DMARLLIB_VERSION_MAJOR=${major} -DMARLLIB_VERSION_MINOR=${minor}
          -DMARLLIB_VERSION_PATCH=${patch} "-DMARLLIB_VERSION_TEXT=\"${VERSION}.0\""
          ${HOST_SOURCE} ${WORK}/lib/marllib.lib -lversion -o ${WORK}/bin/windows_host_test.exe
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the host does not build from the archive:\n${output}")
endif()
message(STATUS "${ARCHIVE}: ${found}")

# Makes the Windows ZIP archive with CPACK, unpacks it into WORK, and fails unless it holds
# exactly the files Windows hosts get (and nothing else from the build tree), its DLL passes
# check_dll.cmake, and the C host test builds with the MinGW compiler CC from the archive's
# headers and MSVC import library alone. The host lands in WORK/bin beside the DLL; another
# test runs it under Wine. Given CLANG and LLD_LINK, it also links an MSVC-ABI program
# against marllib.lib with lld-link.
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

list(TRANSFORM CXX_HEADERS PREPEND include/ OUTPUT_VARIABLE cxx_headers)
set(expected LICENSE README.txt bin/marl.exe bin/marllib.dll include/marllib.h ${cxx_headers}
    include/marllib_version.h lib/libmarllib.dll.a lib/marllib.def lib/marllib.lib)
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
# Microsoft's linker takes marllib.lib: lld-link, which links as link.exe does, resolves
# every export through it for an object compiled for the MSVC ABI (with no C runtime, which
# is not here), and the program imports them all from marllib.dll.
if(CLANG AND LLD_LINK)
  set(msvc_host ${WORK}-msvc)
  file(MAKE_DIRECTORY ${msvc_host})
  set(code "")
  set(calls "")
  foreach(name IN LISTS expected_exports)
    string(APPEND code "__declspec(dllimport) void __cdecl ${name}(void);\n")
    string(APPEND calls "    ${name}();\n")
  endforeach()
  file(WRITE ${msvc_host}/host.c "${code}int start(void) {\n${calls}    return 0;\n}\n")
  set(safe_seh)
  if(BITS EQUAL 32)
    set(target i686-pc-windows-msvc)
    set(safe_seh /safeseh:no)  # dlltool's import objects carry no safe-handler table
  else()
    set(target x86_64-pc-windows-msvc)
  endif()
  execute_process(
    COMMAND ${CLANG} --target=${target} -c ${msvc_host}/host.c -o ${msvc_host}/host.obj
    COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
    COMMAND ${LLD_LINK} /nologo /nodefaultlib /entry:start /subsystem:console ${safe_seh}
            ${msvc_host}/host.obj ${WORK}/lib/marllib.lib /out:${msvc_host}/host.exe
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "lld-link does not link with lib/marllib.lib:\n${output}")
  endif()
  execute_process(COMMAND ${OBJDUMP} -p ${msvc_host}/host.exe OUTPUT_VARIABLE listing
                  COMMAND_ERROR_IS_FATAL ANY)
  foreach(name IN LISTS expected_exports)
    if(NOT listing MATCHES "DLL Name: marllib\\.dll\n.*[ \t]${name}\n")
      message(FATAL_ERROR "the MSVC-linked host does not import ${name} from marllib.dll")
    endif()
  endforeach()
endif()
message(STATUS "${ARCHIVE}: ${found}")

# Reads a Windows DLL's headers with OBJDUMP (objdump -p) and fails unless LIBRARY is a
# 32-bit DLL named marllib.dll that exports exactly the library's functions, by their plain
# names (no _name@N decoration, no forwarding), and imports only from the system's own
# KERNEL32.dll and msvcrt.dll.
set(expected_exports
  marllib_AddTag marllib_Close marllib_Create marllib_GetCollection marllib_GetName
  marllib_GetTagByName marllib_GetTags marllib_GetTagsByName marllib_GetValue marllib_Load
  marllib_SetName marllib_SetValue)
set(expected_imports KERNEL32.dll msvcrt.dll)

if(NOT OBJDUMP OR NOT LIBRARY)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -P check_dll.cmake")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

set(problems)
if(NOT listing MATCHES "file format pei-i386")
  list(APPEND problems "not a 32-bit x86 PE file")
endif()
if(NOT listing MATCHES "Magic[ \t]+010b")
  list(APPEND problems "not a PE32 image")
endif()
if(NOT listing MATCHES "\n[ \t]+DLL\n")
  list(APPEND problems "not flagged as a DLL")
endif()
if(NOT listing MATCHES "\nName[ \t]+[0-9a-fA-F]+ marllib\\.dll\n")
  list(APPEND problems "the export table does not name the DLL marllib.dll")
endif()

# Export names are the entries of the [Ordinal/Name Pointer] Table, up to the blank line
# that ends it; every address in the Export Address Table must be one of them.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" names_block "${listing}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" name_lines "${names_block}")
set(exports)
foreach(line IN LISTS name_lines)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
list(SORT expected_exports)
if(NOT exports STREQUAL expected_exports)
  string(REPLACE ";" " " want "${expected_exports}")
  string(REPLACE ";" " " have "${exports}")
  list(APPEND problems "exports differ\n  expected: ${want}\n  found:    ${have}")
endif()
list(LENGTH expected_exports expected_count)
string(REGEX MATCHALL "\\+base\\[[ 0-9]+\\]" addresses "${listing}")
list(LENGTH addresses address_count)
if(NOT address_count EQUAL expected_count)
  list(APPEND problems "${address_count} exported addresses for ${expected_count} names")
endif()
if(listing MATCHES "Forwarder RVA")
  list(APPEND problems "an export is forwarded to another DLL")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${listing}")
set(imports)
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name: " "" name "${line}")
  list(APPEND imports "${name}")
endforeach()
list(SORT imports)
if(NOT imports STREQUAL expected_imports)
  string(REPLACE ";" " " want "${expected_imports}")
  string(REPLACE ";" " " have "${imports}")
  list(APPEND problems "imports differ\n  expected: ${want}\n  found:    ${have}")
endif()

if(problems)
  list(JOIN problems "\n" report)
  message(FATAL_ERROR "${LIBRARY}:\n${report}")
endif()
message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")

# What Windows hosts get besides the DLL and MinGW's import library, and the ZIP archive that
# holds it all (cpack -G ZIP gives marllib-VERSION-win32.zip, or -win64 from the x64 build):
#   bin/      marllib.dll, marl.exe
#   lib/      marllib.lib (for Microsoft's linker), libmarllib.dll.a (MinGW), marllib.def
#   include/  the public headers
#   LICENSE, README.txt
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(dlltool_machine i386:x86-64)
  set(MARLLIB_WINDOWS_NAME "64-bit Windows (x64)")
  set(MARLLIB_MSVC_PROMPT "x64")
else()
  set(dlltool_machine i386)
  set(MARLLIB_WINDOWS_NAME "32-bit Windows (x86)")
  set(MARLLIB_MSVC_PROMPT "x86")
  # dlltool's import objects carry no safe-exception-handler table, which /SAFESEH demands.
  set(MARLLIB_MSVC_LINK_OPTION " /link /SAFESEH:NO")
endif()
string(REGEX REPLACE "." "=" MARLLIB_WINDOWS_RULE "marllib ${PROJECT_VERSION} for ${MARLLIB_WINDOWS_NAME}")
get_filename_component(MARLLIB_MINGW_GCC "${CMAKE_C_COMPILER}" NAME)
configure_file(README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY)

# The MSVC import library, made from the module-definition file. On x86, dlltool gives each
# name the leading underscore of a cdecl function, which is what MSVC's callers look for.
set(def ${CMAKE_CURRENT_SOURCE_DIR}/marllib.def)
set(import_library ${CMAKE_CURRENT_BINARY_DIR}/marllib.lib)
add_custom_command(OUTPUT ${import_library}
  COMMAND ${CMAKE_DLLTOOL} --machine ${dlltool_machine} --input-def ${def}
          --dllname marllib.dll --output-lib ${import_library}
  DEPENDS ${def}
  COMMENT "Making the MSVC import library marllib.lib"
  VERBATIM)
add_custom_target(marllib_msvc_import_library ALL DEPENDS ${import_library})

install(FILES ${import_library} ${def} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT Development)

# The archive takes the two components above; the CMake package stays out of it.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME marllib)
set(CPACK_PACKAGE_VENDOR marllib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)

# Installs the build tree BUILD_DIR into a fresh PREFIX and checks what arrived, file by file:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DCONFIG=<build type> -DVERSION=X.Y.Z -DLIBDIR=lib
#         -DINCLUDEDIR=include -DBINDIR=bin -DDOCDIR=share/doc/marllib -DMANDIR=share/man
#         -DDATADIR=share -DSTATIC=ON|OFF -DTOOL=ON|OFF -DOBJDUMP=...
#         -DCXX_HEADERS="marllib.hpp;..."
#         -P stage.cmake
cmake_minimum_required(VERSION 3.25)
function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" ${config_args}
  RESULT_VARIABLE failed)
if(failed)
  fail("cmake --install failed")
endif()

# Exactly these files, and nothing else.
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
if(CONFIG)
  string(TOLOWER "${CONFIG}" config_suffix)
else()
  set(config_suffix noconfig)
endif()
list(TRANSFORM CXX_HEADERS PREPEND ${INCLUDEDIR}/ OUTPUT_VARIABLE cxx_headers)
set(expected
  ${INCLUDEDIR}/marllib.h ${cxx_headers} ${INCLUDEDIR}/marllib_version.h ${DOCDIR}/LICENSE
  ${LIBDIR}/cmake/marllib/marllibConfig.cmake
  ${LIBDIR}/cmake/marllib/marllibConfigVersion.cmake
  ${LIBDIR}/cmake/marllib/marllibTargets.cmake
  ${LIBDIR}/cmake/marllib/marllibTargets-${config_suffix}.cmake
  ${LIBDIR}/pkgconfig/marllib.pc)
if(STATIC)
  list(APPEND expected ${LIBDIR}/libmarllib.a)
else()
  list(APPEND expected ${LIBDIR}/libmarllib.so ${LIBDIR}/libmarllib.so.${major}
                       ${LIBDIR}/libmarllib.so.${VERSION})
endif()
if(TOOL)
  list(APPEND expected ${BINDIR}/marl ${MANDIR}/man1/marl.1
                       ${DATADIR}/bash-completion/completions/marl)
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " installed_lines "${installed}")
  string(REPLACE ";" "\n  " expected_lines "${expected}")
  fail("installed files differ\nexpected:\n  ${expected_lines}\ninstalled:\n  ${installed_lines}")
endif()
message(STATUS "installed into ${PREFIX}:\n   ${installed}")

# The shared library: the real file carries the full version, the link chain runs
# .so -> .so.MAJOR -> .so.X.Y.Z, the SONAME names the major version only, and no run path into
# the build tree is left behind.
if(NOT STATIC)
  set(lib "${PREFIX}/${LIBDIR}")
  foreach(link_and_target "libmarllib.so;libmarllib.so.${major}"
                          "libmarllib.so.${major};libmarllib.so.${VERSION}")
    list(GET link_and_target 0 link)
    list(GET link_and_target 1 target)
    if(NOT IS_SYMLINK "${lib}/${link}")
      fail("${link} is not a symbolic link")
    endif()
    file(READ_SYMLINK "${lib}/${link}" points_to)
    if(NOT points_to STREQUAL target)
      fail("${link} points to ${points_to}, not ${target}")
    endif()
  endforeach()
  if(IS_SYMLINK "${lib}/libmarllib.so.${VERSION}")
    fail("libmarllib.so.${VERSION} should be the library itself")
  endif()
  execute_process(COMMAND "${OBJDUMP}" -p "${lib}/libmarllib.so.${VERSION}"
                  OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
  if(failed)
    fail("${OBJDUMP} -p failed")
  endif()
  if(NOT headers MATCHES "SONAME +libmarllib\\.so\\.${major}\n")
    fail("the SONAME is not libmarllib.so.${major}:\n${headers}")
  endif()
  if(headers MATCHES "(RPATH|RUNPATH) +([^\n]*)")
    fail("the installed library keeps a run path: ${CMAKE_MATCH_2}")
  endif()
endif()

# The version is the same in the header, the pkg-config file and the tool.
file(READ "${PREFIX}/${INCLUDEDIR}/marllib_version.h" header)
if(NOT header MATCHES "#define MARLLIB_VERSION_STRING \"${VERSION}\"")
  fail("marllib_version.h does not say ${VERSION}:\n${header}")
endif()
file(STRINGS "${PREFIX}/${LIBDIR}/pkgconfig/marllib.pc" pc)
if(NOT "Version: ${VERSION}" IN_LIST pc)
  fail("marllib.pc does not say Version: ${VERSION}")
endif()
if(NOT "prefix=${PREFIX}" IN_LIST pc)
  fail("marllib.pc does not name the prefix ${PREFIX}")
endif()
if(TOOL)
  execute_process(COMMAND "${PREFIX}/${BINDIR}/marl" --version
                  OUTPUT_VARIABLE said RESULT_VARIABLE failed)
  if(failed OR NOT said STREQUAL "marl ${VERSION}\n")
    fail("the installed marl --version said '${said}' (status ${failed}), not 'marl ${VERSION}'")
  endif()
endif()

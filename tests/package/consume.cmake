# Builds the consumer host against the marllib installed in PREFIX and runs it:
#   cmake -DMODE=find_package|pkg_config -DPREFIX=... -DWORK=<scratch dir> -DVERSION=X.Y.Z
#         -DLIBDIR=lib -DSTATIC=ON|OFF -DC_COMPILER=... -DC_FLAGS=... -DLINKER_FLAGS=...
#         [-DGENERATOR=... -DBUILD_TYPE=...] [-DPKG_CONFIG=...] -P consume.cmake
cmake_minimum_required(VERSION 3.25)
set(source "${CMAKE_CURRENT_LIST_DIR}/consumer")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${what} failed (${failed})")
  endif()
endfunction()

if(MODE STREQUAL "find_package")
  run("configuring the consumer" "${CMAKE_COMMAND}" -S "${source}" -B "${WORK}" -G "${GENERATOR}"
      "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
      "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
      "-DCMAKE_PREFIX_PATH=${PREFIX}" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
      "-DMARLLIB_EXPECTED_VERSION=${VERSION}" "-DMARLLIB_EXPECTED_PREFIX=${PREFIX}")
  run("building the consumer" "${CMAKE_COMMAND}" --build "${WORK}")
elseif(MODE STREQUAL "pkg_config")
  # Only the staged package is visible.
  set(ENV{PKG_CONFIG_LIBDIR} "${PREFIX}/${LIBDIR}/pkgconfig")
  unset(ENV{PKG_CONFIG_PATH})
  set(static)
  if(STATIC)
    set(static --static)
  endif()
  execute_process(COMMAND "${PKG_CONFIG}" --modversion marllib
                  OUTPUT_VARIABLE modversion OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed)
  if(failed OR NOT modversion STREQUAL VERSION)
    message(FATAL_ERROR "pkg-config --modversion marllib said '${modversion}', not ${VERSION}")
  endif()
  execute_process(COMMAND "${PKG_CONFIG}" ${static} --cflags --libs marllib
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "pkg-config --cflags --libs marllib failed")
  endif()
  message(STATUS "pkg-config ${static} --cflags --libs marllib: ${flags}")
  if(STATIC AND NOT flags MATCHES "(^| )-DMARLLIB_STATIC( |$)")
    message(FATAL_ERROR "a static marllib's flags lack -DMARLLIB_STATIC")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS} ${LINKER_FLAGS}")
  set(run_path)
  if(NOT STATIC)
    # The staged prefix is no place the loader searches.
    execute_process(COMMAND "${PKG_CONFIG}" --variable=libdir marllib
                    OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(run_path "-Wl,-rpath,${libdir}")
  endif()
  run("compiling the consumer" "${C_COMPILER}" ${c_flags} -std=c99 -pedantic-errors -Wall -Wextra
      -Werror "${source}/host.c" -o "${WORK}/host" ${flags} ${run_path})
else()
  message(FATAL_ERROR "MODE must be find_package or pkg_config, not '${MODE}'")
endif()

execute_process(COMMAND "${WORK}/host" OUTPUT_VARIABLE said RESULT_VARIABLE failed)
if(failed OR NOT said STREQUAL "marllib ${VERSION}\n")
  message(FATAL_ERROR
          "the consumer host said '${said}' (status ${failed}), not 'marllib ${VERSION}'")
endif()
message(STATUS "the consumer host ran: ${said}")

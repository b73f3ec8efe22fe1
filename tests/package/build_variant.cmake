# Configures and builds this source tree as a second, separate build whose marllib is of the
# other kind (static when the main build's is shared, and the other way round):
#   cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DSHARED=ON|OFF -DGENERATOR=... -DBUILD_TYPE=...
#         -DC_COMPILER=... -DCXX_COMPILER=... -DC_FLAGS=... -DCXX_FLAGS=... -P build_variant.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${BUILD_DIR}" -G "${GENERATOR}"
          "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" "-DBUILD_SHARED_LIBS=${SHARED}"
          "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
          "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
          -DMARLLIB_BUILD_TESTS=OFF -DMARLLIB_BUILD_EXAMPLES=OFF -DMARLLIB_BUILD_TOOLS=OFF
          -DMARLLIB_WARNINGS_AS_ERRORS=ON
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "configuring the second build failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --parallel 2
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "building the second build failed")
endif()

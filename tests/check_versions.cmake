# Fails when a header in include/ or README.md states a MAJOR.MINOR.PATCH version other than
# VERSION, the project's. The version has one home, project() in CMakeLists.txt, from which
# the build makes marllib_version.h; a number copied by hand elsewhere goes stale.
#   cmake -DVERSION=1.1.0 -DSOURCE_DIR=<source tree> -P check_versions.cmake
# A header states no version by hand, so every dotted number of three parts in one counts.
# README.md also holds addresses (0.0.0.0) and compiler versions (GCC 12.2), so there only a
# number that follows "marllib" or "version" (in any case) across at most one space counts,
# such as libmarllib.so.1.1.0, marllib-1.1.0-win32.zip or "version 1.1.0". CHANGELOG.md names
# past versions and is not read.
set(stale "")

# Adds the number to `stale`, with where it stands, unless it is VERSION or no version.
macro(check_number number where)
  if("${number}" MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$" AND NOT "${number}" STREQUAL VERSION)
    string(APPEND stale "\n  ${where}: ${number}")
  endif()
endmacro()

file(GLOB headers ${SOURCE_DIR}/include/*)
foreach(header IN LISTS headers)
  file(READ ${header} text)
  string(REGEX MATCHALL "[0-9]+(\\.[0-9]+)*" numbers "${text}")
  foreach(number IN LISTS numbers)
    check_number("${number}" "${header}")
  endforeach()
endforeach()

file(READ ${SOURCE_DIR}/README.md text)
string(TOLOWER "${text}" text)
string(REGEX MATCHALL "(marllib|version)[^0-9 \n]*[ ]?[^0-9 \n]*[0-9]+(\\.[0-9]+)*" mentions
       "${text}")
foreach(mention IN LISTS mentions)
  string(REGEX MATCH "[0-9]+(\\.[0-9]+)*$" number "${mention}")
  check_number("${number}" "${SOURCE_DIR}/README.md, '${mention}'")
endforeach()

if(stale)
  message(FATAL_ERROR "versions other than the project's ${VERSION}:${stale}")
endif()

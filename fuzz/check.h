// The fuzz targets' own assertion: reports the failed condition and aborts, which libFuzzer
// records as a crash with the input that caused it. Active in every build type.
#ifndef MARLLIB_FUZZ_CHECK_H
#define MARLLIB_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

#endif  // MARLLIB_FUZZ_CHECK_H

// marl_load_timing: marllib_Load's time per tag on the config and flat shapes, through the
// exported functions only, so that the same source measures the native shared library and
// marllib.dll (under Wine). bench/dll-speed builds and runs both and sets them side by side.
//
//   marl_load_timing [RUNS]     one line per shape: "<shape> <tags> <median ns per tag>"
//
// Times are wall-clock medians of RUNS loads (default 15) after one load to warm up; each
// load's document is freed with marllib_Close before the next, outside the timed part.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "forms.h"
#include "marllib.h"

namespace {

// The median time of one load of `text`, in nanoseconds; 0 when a load finds another tree.
double MedianLoadNanoseconds(const std::string& text, const bench::Expected& expected, int runs) {
    std::vector<double> times;
    const auto length = static_cast<int32_t>(text.size());
    for (int run = 0; run <= runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const int32_t document = marllib_Load(text.data(), length);
        const auto end = std::chrono::steady_clock::now();
        const bool whole = document >= 0 &&
            marllib_GetTags(document, MARLLIB_ROOT, nullptr, 0) == expected.rootCount;
        marllib_Close();
        if (!whole) return 0;
        if (run > 0) times.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

int Report(const char* shape, const bench::Forms& forms, int runs) {
    const double nanoseconds = MedianLoadNanoseconds(forms.marl, forms.expected, runs);
    if (nanoseconds <= 0) {
        std::printf("%s FAILED\n", shape);
        return 1;
    }
    std::printf("%s %llu %.2f\n", shape, static_cast<unsigned long long>(forms.expected.tags),
                nanoseconds / static_cast<double>(forms.expected.tags));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    int failed = Report("config", bench::MakeConfig(1000000, 1), runs);
    failed += Report("flat", bench::MakeFlat(1000000, 2), runs);
    return failed == 0 ? 0 : 1;
}

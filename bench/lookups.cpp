#include "lookups.h"

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "marllib.h"

namespace bench {

namespace {

double CpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The bytes that the heap has handed out and not taken back, mapped blocks included.
double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A pass: prepares (not timed) and looks every key up; returns the keys whose answer was
// wrong. first receives the processor time of the first lookup, total that of all of them.
struct Pass {
    double first = 0;
    double total = 0;
    uint64_t wrong = 0;
};

// Runs passes in a child: one, then as many more as fit the budget (at most maxRuns), and
// reports their medians.
template <typename RunPass>
Outcome Passes(const Settings& settings, RunPass run) {
    return InChild(
        [&](Outcome& out) {
            std::vector<double> totals, firsts;
            for (int pass = 0, passes = 1; pass < passes; ++pass) {
                const Pass done = run(out, pass);
                if (done.wrong > 0) {
                    return Fail(out, std::to_string(done.wrong) + " keys found the wrong tag");
                }
                totals.push_back(done.total);
                firsts.push_back(done.first);
                if (pass == 0) {
                    const double fit = settings.budgetSeconds * 1e9 / std::max(done.total, 1.0);
                    passes = static_cast<int>(
                        std::clamp(fit, 1.0, static_cast<double>(settings.maxRuns)));
                }
            }
            out.ok = true;
            out.runs = static_cast<int>(totals.size());
            out.loadNs = Median(totals);
            out.firstNs = Median(firsts);
        },
        settings);
}

}  // namespace

Keys MakeKeys(uint64_t count) {
    Keys keys;
    keys.xml = "<keys>\n";
    for (uint64_t i = 0; i < count; ++i) {
        const std::string name = "key" + std::to_string(i);
        keys.at.push_back(static_cast<uint32_t>(keys.bytes.size()));
        keys.lengths.push_back(static_cast<int32_t>(name.size()));
        keys.bytes += name;
        keys.bytes += '\0';
        keys.marl += "<" + name + "/>\n";
        keys.xml += "  <" + name + "/>\n";
    }
    keys.xml += "</keys>\n";
    return keys;
}

Outcome MeasureMarllibLookups(const Keys& keys, const Settings& settings) {
    const auto count = static_cast<int32_t>(keys.at.size());
    return Passes(settings, [&](Outcome& out, int pass) {
        marllib_Close();
        const int32_t document =
            marllib_Load(keys.marl.data(), static_cast<int32_t>(keys.marl.size()));
        const char* const bytes = keys.bytes.data();
        Pass done;
        const double heap = HeapBytes();
        const double start = CpuNs();
        for (int32_t i = 0; i < count; ++i) {
            const int32_t found =
                marllib_GetTagByName(document, MARLLIB_ROOT, bytes + keys.at[i], keys.lengths[i]);
            if (i == 0) done.first = CpuNs() - start;
            done.wrong += found != i;
        }
        done.total = CpuNs() - start;
        if (pass == 0) out.peakBytes = HeapBytes() - heap;
        return done;
    });
}

Outcome MeasurePugixmlLookups(const Keys& keys, const Settings& settings) {
    const size_t count = keys.at.size();
    return Passes(settings, [&](Outcome& out, int pass) {
        (void)pass;
        Pass done;
        pugi::xml_document document;
        if (!document.load_buffer(keys.xml.data(), keys.xml.size())) {
            done.wrong = count;
            return done;
        }
        const pugi::xml_node parent = document.document_element();
        std::vector<pugi::xml_node> children;
        for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
            children.push_back(child);
        }
        if (children.size() != count) {
            done.wrong = count;
            return done;
        }
        const char* const bytes = keys.bytes.data();
        const double start = CpuNs();
        for (size_t i = 0; i < count; ++i) {
            const pugi::xml_node found = parent.child(bytes + keys.at[i]);
            if (i == 0) done.first = CpuNs() - start;
            done.wrong += found != children[i];
        }
        done.total = CpuNs() - start;
        out.peakBytes = -1;  // a walk needs no memory of its own
        return done;
    });
}

}  // namespace bench

#include "measure.h"

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double NsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A field of /proc/self/status in bytes (the kernel gives kB), or -1.
long long StatusBytes(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long long kb = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            kb = std::atoll(line + length + 1);
            break;
        }
    }
    std::fclose(status);
    return kb < 0 ? -1 : kb * 1024;
}

// Sets the peak resident size (VmHWM) back to the current resident size. False where the
// kernel refuses; a fresh child's peak then still starts at its size when it was forked.
bool ResetPeak() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (refs == nullptr) return false;
    const bool written = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && written;
}

void Fail(Outcome& out, const std::string& why) {
    out.ok = false;
    std::snprintf(out.note, sizeof out.note, "%s", why.c_str());
}

// How many timed runs fit the budget, given how long the first one took.
int RunsFor(double firstNs, const Settings& settings) {
    const double fit = settings.budgetSeconds * 1e9 / std::max(firstNs, 1.0);
    return static_cast<int>(std::clamp(fit, static_cast<double>(settings.minRuns),
                                       static_cast<double>(settings.maxRuns)));
}

// Forks, runs body in the child and returns the Outcome it sent, or a failed one saying how
// the child ended.
Outcome InChild(const std::function<void(Outcome&)>& body, const Settings& settings) {
    std::fflush(nullptr);  // nothing buffered may be written twice
    malloc_trim(0);        // freed memory is given back, so the child cannot reuse it unseen
    int fds[2];
    Outcome out;
    if (pipe(fds) != 0) {
        Fail(out, "pipe failed");
        return out;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        Fail(out, "fork failed");
        return out;
    }
    if (child == 0) {
        close(fds[0]);
        alarm(static_cast<unsigned>(settings.timeoutSeconds));
        Outcome result;
        body(result);
        const char* bytes = reinterpret_cast<const char*>(&result);
        size_t left = sizeof result;
        while (left > 0) {
            const ssize_t n = write(fds[1], bytes, left);
            if (n <= 0) break;
            bytes += n;
            left -= static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    char* bytes = reinterpret_cast<char*>(&out);
    size_t got = 0;
    while (got < sizeof out) {
        const ssize_t n = read(fds[0], bytes + got, sizeof out - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got == sizeof out) return out;
    out = Outcome();
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        std::string why = sig == SIGALRM ? "timed out" : std::string("crashed: ") + strsignal(sig);
        Fail(out, why);
    } else {
        Fail(out, "child ended without a result, exit status " +
                      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    }
    return out;
}

}  // namespace

Outcome MeasureReader(const std::function<Reader*()>& make, const Settings& settings) {
    return InChild(
        [&](Outcome& out) {
            std::unique_ptr<Reader> reader(make());
            std::string why;

            // One load for the peak: the tree is built and still held when the peak is read.
            malloc_trim(0);
            out.peakExact = ResetPeak();
            const long long base = StatusBytes("VmHWM");
            if (!reader->Load(why)) return Fail(out, why);
            const long long peak = StatusBytes("VmHWM");
            out.peakBytes = base < 0 || peak < 0 ? -1 : static_cast<double>(peak - base);
            if (!reader->Verify(why)) return Fail(out, "wrong tree: " + why);
            reader->Free();

            std::vector<double> loads, frees;
            for (int run = 0, runs = 1; run < runs; ++run) {
                const auto start = Clock::now();
                const bool loaded = reader->Load(why);
                const double loadNs = NsSince(start);
                if (!loaded) return Fail(out, why);
                if (!reader->Recheck(why)) return Fail(out, "wrong tree: " + why);
                const auto freeing = Clock::now();
                reader->Free();
                const double freeNs = NsSince(freeing);
                loads.push_back(loadNs);
                frees.push_back(freeNs);
                if (run == 0) runs = RunsFor(loadNs + freeNs, settings);
            }
            out.ok = true;
            out.runs = static_cast<int>(loads.size());
            out.loadNs = Median(loads);
            out.freeNs = Median(frees);
        },
        settings);
}

Outcome MeasurePrinter(const std::function<Printer*()>& make, size_t capacity,
                       const Settings& settings) {
    return InChild(
        [&](Outcome& out) {
            std::unique_ptr<Printer> printer(make());
            std::string why;
            if (!printer->Prepare(why)) return Fail(out, why);
            std::unique_ptr<char[]> buffer(new char[capacity]);
            FILE* stream = fmemopen(buffer.get(), capacity, "w");
            if (stream == nullptr) return Fail(out, "fmemopen failed");

            std::vector<double> prints;
            for (int run = 0, runs = 1; run <= runs; ++run) {
                std::fseek(stream, 0, SEEK_SET);
                const auto start = Clock::now();
                printer->Print(stream);
                std::fflush(stream);
                const double ns = NsSince(start);
                const long written = std::ftell(stream);
                if (written < 0 || static_cast<size_t>(written) + 1 >= capacity) {
                    std::fclose(stream);
                    return Fail(out, "output larger than the stream's buffer");
                }
                if (run == 0) {
                    // The first print is checked, not timed.
                    if (!printer->Verify(buffer.get(), static_cast<size_t>(written), why)) {
                        std::fclose(stream);
                        return Fail(out, "wrong output: " + why);
                    }
                    continue;
                }
                prints.push_back(ns);
                if (run == 1) runs = RunsFor(ns, settings);
            }
            std::fclose(stream);
            out.ok = true;
            out.runs = static_cast<int>(prints.size());
            out.loadNs = Median(prints);
        },
        settings);
}

}  // namespace bench

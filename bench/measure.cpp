#include "measure.h"

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace bench {

namespace {

// Wall-clock and processor time (user and system, which includes page faults) together. The
// tables report processor time: the machines this runs on are shared, and another program's
// work lengthens the wall-clock time of a run but not the processor time that the run takes.
struct Stamp {
    std::chrono::steady_clock::time_point wall;
    timespec cpu;

    static Stamp Now() {
        Stamp s{std::chrono::steady_clock::now(), {}};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &s.cpu);
        return s;
    }
};

struct Span {
    double cpuNs;
    double wallNs;
};

Span Since(const Stamp& start) {
    const Stamp now = Stamp::Now();
    const double cpu = static_cast<double>(now.cpu.tv_sec - start.cpu.tv_sec) * 1e9 +
                       static_cast<double>(now.cpu.tv_nsec - start.cpu.tv_nsec);
    return {cpu, std::chrono::duration<double, std::nano>(now.wall - start.wall).count()};
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

}  // namespace

void Fail(Outcome& out, const std::string& why) {
    out.ok = false;
    std::snprintf(out.note, sizeof out.note, "%s", why.c_str());
}

namespace {

// How many timed runs fit the budget, given how long the first one took.
int RunsFor(double firstNs, const Settings& settings) {
    const double fit = settings.budgetSeconds * 1e9 / std::max(firstNs, 1.0);
    return static_cast<int>(std::clamp(fit, static_cast<double>(settings.minRuns),
                                       static_cast<double>(settings.maxRuns)));
}

}  // namespace

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

namespace {

// First loads: one per fresh child, where every page the reader touches is new to the process
// and faults in, as when a program loads one document and ends. The same load gives the peak.
// The first child also walks the whole tree. Fills the first-load fields of out.
bool MeasureFirstLoads(const std::function<Reader*()>& make, const Settings& settings,
                       Outcome& out) {
    std::vector<double> firsts, peaks;
    bool peakExact = true;
    for (int run = 0, runs = 1; run < runs; ++run) {
        const Outcome one = InChild(
            [&](Outcome& child) {
                std::unique_ptr<Reader> reader(make());
                std::string why;
                malloc_trim(0);
                child.peakExact = ResetPeak();
                const long long base = StatusBytes("VmHWM");
                const Stamp start = Stamp::Now();
                const bool loaded = reader->Load(why);
                const Span load = Since(start);
                if (!loaded) return Fail(child, why);
                const long long peak = StatusBytes("VmHWM");
                child.peakBytes = base < 0 || peak < 0 ? -1 : static_cast<double>(peak - base);
                child.loadNs = load.cpuNs;
                child.loadWallNs = load.wallNs;
                if (run == 0 && !reader->Verify(why)) return Fail(child, "wrong tree: " + why);
                reader->Free();
                child.ok = true;
            },
            settings);
        if (!one.ok) {
            out = one;
            return false;
        }
        firsts.push_back(one.loadNs);
        peaks.push_back(one.peakBytes);
        peakExact = peakExact && one.peakExact;
        if (run == 0) runs = std::min(RunsFor(one.loadWallNs, settings), settings.maxFirstRuns);
    }
    out.firstRuns = static_cast<int>(firsts.size());
    out.firstNs = Median(firsts);
    out.peakBytes = Median(peaks);
    out.peakExact = peakExact;
    return true;
}

// Repeated loads in one child whose allocator keeps all freed memory (no trimming, no separate
// mappings): after the first load every later one reuses the same pages, so these times are
// the reader's own work, as in a program that loads documents over and over. The child's
// samples come back in the Outcome.
Outcome RepeatedLoads(const std::function<Reader*()>& make, const Settings& settings) {
    return InChild(
        [&](Outcome& out) {
            mallopt(M_MMAP_MAX, 0);
            mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
            std::unique_ptr<Reader> reader(make());
            std::string why;
            if (!reader->Load(why)) return Fail(out, why);
            reader->Free();

            const int most = std::min(settings.maxRuns, Outcome::kMaxSamples);
            for (int run = 0, runs = 1; run < runs; ++run) {
                const Stamp start = Stamp::Now();
                const bool loaded = reader->Load(why);
                const Span load = Since(start);
                if (!loaded) return Fail(out, why);
                if (!reader->Recheck(why)) return Fail(out, "wrong tree: " + why);
                const Stamp freeing = Stamp::Now();
                reader->Free();
                const Span free = Since(freeing);
                out.loadSamples[run] = load.cpuNs;
                out.loadWallSamples[run] = load.wallNs;
                out.freeSamples[run] = free.cpuNs;
                out.runs = run + 1;
                if (run == 0) runs = std::min(RunsFor(load.wallNs + free.wallNs, settings), most);
            }
            out.ok = true;
        },
        settings);
}

// The medians of all the samples in parts, into out.
void Pool(const std::vector<Outcome>& parts, Outcome& out) {
    std::vector<double> loads, walls, frees;
    for (const Outcome& part : parts) {
        loads.insert(loads.end(), part.loadSamples, part.loadSamples + part.runs);
        walls.insert(walls.end(), part.loadWallSamples, part.loadWallSamples + part.runs);
        frees.insert(frees.end(), part.freeSamples, part.freeSamples + part.runs);
    }
    out.runs = static_cast<int>(loads.size());
    out.loadNs = Median(loads);
    out.loadWallNs = Median(walls);
    out.freeNs = Median(frees);
}

}  // namespace

std::vector<Outcome> MeasureReadersInTurns(const std::vector<std::function<Reader*()>>& makes,
                                           const Settings& settings) {
    std::vector<Outcome> outs(makes.size());
    std::vector<bool> failed(makes.size(), false);
    for (size_t i = 0; i < makes.size(); ++i) {
        failed[i] = !MeasureFirstLoads(makes[i], settings, outs[i]);
    }
    const int turns = std::max(1, settings.turns);
    Settings share = settings;
    share.budgetSeconds = settings.budgetSeconds / turns;
    share.maxRuns = std::max(1, settings.maxRuns / turns);
    share.minRuns = std::min(settings.minRuns, share.maxRuns);
    std::vector<std::vector<Outcome>> parts(makes.size());
    for (int turn = 0; turn < turns; ++turn) {
        for (size_t i = 0; i < makes.size(); ++i) {
            if (failed[i]) continue;
            const Outcome part = RepeatedLoads(makes[i], turns == 1 ? settings : share);
            if (!part.ok) {
                failed[i] = true;
                outs[i] = part;
                continue;
            }
            parts[i].push_back(part);
        }
    }
    for (size_t i = 0; i < makes.size(); ++i) {
        if (failed[i]) continue;
        Pool(parts[i], outs[i]);
        outs[i].ok = true;
    }
    return outs;
}

Outcome MeasureReader(const std::function<Reader*()>& make, const Settings& settings) {
    Settings alone = settings;
    alone.turns = 1;
    return MeasureReadersInTurns({make}, alone)[0];
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

            std::vector<double> prints, printWalls;
            for (int run = 0, runs = 1; run <= runs; ++run) {
                std::fseek(stream, 0, SEEK_SET);
                const Stamp start = Stamp::Now();
                printer->Print(stream);
                std::fflush(stream);
                const Span print = Since(start);
                const long written = std::ftell(stream);
                if (written < 0 || static_cast<size_t>(written) + 1 >= capacity) {
                    std::fclose(stream);
                    return Fail(out, "output larger than the stream's buffer");
                }
                if (run == 0) {
                    // The first print is checked, not timed.
                    out.printedBytes = static_cast<double>(written);
                    if (!printer->Verify(buffer.get(), static_cast<size_t>(written), why)) {
                        std::fclose(stream);
                        return Fail(out, "wrong output: " + why);
                    }
                    continue;
                }
                prints.push_back(print.cpuNs);
                printWalls.push_back(print.wallNs);
                if (run == 1) runs = RunsFor(print.wallNs, settings);
            }
            std::fclose(stream);
            out.ok = true;
            out.runs = static_cast<int>(prints.size());
            out.loadNs = Median(prints);
            out.loadWallNs = Median(printWalls);
        },
        settings);
}

}  // namespace bench

// Measuring one reader (or printer) on one input, in a process of its own.
//
// Each measurement runs in a fresh child made with fork(): the input is already in memory,
// shared with the parent, and the child's peak resident size is reset (or, where the kernel
// does not allow that, read) before the one load whose peak is reported. A crash or a hang
// in a reader takes only that child down. The child sends its Outcome back through a pipe.
#ifndef MARLLIB_BENCH_MEASURE_H
#define MARLLIB_BENCH_MEASURE_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// The benchmark's view of one reader: build a tree from the input, check it, destroy it.
class Reader {
public:
    virtual ~Reader() = default;
    // Builds the tree; false, with the reason in why, when the reader reports a failure.
    virtual bool Load(std::string& why) = 0;
    // A cheap check after each timed load (not timed), e.g. the root's entry count.
    virtual bool Recheck(std::string& why) { (void)why; return true; }
    // Walks the whole loaded tree once and compares it with what was generated.
    virtual bool Verify(std::string& why) = 0;
    // Destroys what Load built.
    virtual void Free() = 0;
};

// The benchmark's view of one printer: write the loaded tree to a stream.
class Printer {
public:
    virtual ~Printer() = default;
    // Loads the tree to be printed (not timed).
    virtual bool Prepare(std::string& why) = 0;
    virtual void Print(FILE* stream) = 0;
    // Checks the bytes that one Print wrote.
    virtual bool Verify(const char* text, size_t length, std::string& why) = 0;
};

struct Settings {
    double budgetSeconds = 2.0;  // timed repetitions stop once they have taken about this long
    int minRuns = 3;
    int maxRuns = 31;
    int maxFirstRuns = 7;        // first loads, each in a process of its own
    int timeoutSeconds = 600;    // a child still running after this is killed
    int turns = 5;               // readers measured together take their repeated loads in
                                 // this many turns each, alternating
};

// The result of one measurement, sent from the child as plain bytes.
struct Outcome {
    static constexpr int kMaxSamples = 64;

    bool ok = false;
    char note[240] = {};   // why it failed, if it did
    int runs = 0;            // repeated loads (or prints) timed
    double loadNs = 0;       // median processor time of one of them
    double loadWallNs = 0;   // median wall-clock time of the same
    double freeNs = 0;       // median processor time of destroying what was loaded
    int firstRuns = 0;       // first loads timed, each in a fresh process
    double firstNs = 0;      // their median processor time
    double peakBytes = 0;    // median peak resident growth during a first load
    double printedBytes = 0;  // the length of a printer's text
    bool peakExact = false;  // the peak was reset right before the load (else read since fork)
    // Every repeated load's processor and wall-clock time and every free's processor time,
    // from which the medians above come (the first `runs` of each).
    double loadSamples[kMaxSamples] = {};
    double loadWallSamples[kMaxSamples] = {};
    double freeSamples[kMaxSamples] = {};
};

// Forks, runs body in the child (which fills its Outcome) and returns the Outcome it sent, or
// a failed one saying how the child ended: crashed, or still running after
// settings.timeoutSeconds.
Outcome InChild(const std::function<void(Outcome&)>& body, const Settings& settings);
// Marks out as failed, with why as its note.
void Fail(Outcome& out, const std::string& why);

// Measures a reader: first loads, each in a fresh child, for the time of loading into a process
// that has never held the tree and for the peak memory (the first of them also walks the tree
// to verify it); then, in one more child, repeated loads and frees. Medians are reported.
Outcome MeasureReader(const std::function<Reader*()>& make, const Settings& settings);

// Measures readers whose figures are compared with each other the same way, except that their
// repeated loads are taken in turns (settings.turns children each, alternating, each with an
// equal share of the budget) and pooled: a stretch of load on a shared machine then falls on
// all of them instead of on one. One Outcome per reader, in order.
std::vector<Outcome> MeasureReadersInTurns(const std::vector<std::function<Reader*()>>& makes,
                                           const Settings& settings);

// Runs a printer in a child: one print checked for its output, then timed prints into a
// memory stream of `capacity` bytes.
Outcome MeasurePrinter(const std::function<Printer*()>& make, size_t capacity,
                       const Settings& settings);

}  // namespace bench

#endif  // MARLLIB_BENCH_MEASURE_H

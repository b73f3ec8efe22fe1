// Runs of the marl tool as a user runs it, in a process of its own, for the benchmark's table
// of the tool: what each run cost in processor time and in peak memory.
#ifndef MARLLIB_BENCH_TOOL_RUNS_H
#define MARLLIB_BENCH_TOOL_RUNS_H

#include <string>
#include <vector>

namespace bench {

struct CommandRun {
    bool ok = false;        // it ran and exited with status 0
    double cpuNs = 0;       // its processor time, user and system
    double peakBytes = 0;   // its peak resident size
};

// Runs argv (argv[0] a path) with its standard output going to the file output (thrown
// away by default), and waits for it.
CommandRun RunCommand(const std::vector<std::string>& argv,
                      const std::string& output = "/dev/null");

// The path of the first leaf of a text (names joined with '/'), as marl get takes it; empty
// when the text has none, or a name on the way that a path would have to escape.
std::string FirstLeafPath(const std::string& marl);

}  // namespace bench

#endif  // MARLLIB_BENCH_TOOL_RUNS_H

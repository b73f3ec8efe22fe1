#include "tool_runs.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "marllib_reader.hpp"

namespace bench {

CommandRun RunCommand(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::fflush(stdout);  // or the child would write the table's pending lines again
    const pid_t child = fork();
    if (child == 0) {
        const int sink = open(output.c_str(), O_WRONLY | O_TRUNC);
        if (sink >= 0) dup2(sink, STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    CommandRun run;
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return run;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto ns = [](const timeval& t) { return t.tv_sec * 1e9 + t.tv_usec * 1e3; };
    run.cpuNs = ns(usage.ru_utime) + ns(usage.ru_stime);
    run.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024;
    return run;
}

std::string FirstLeafPath(const std::string& marl) {
    std::vector<std::string> open;
    std::string found;
    bool done = false;
    marl::read(marl, [&](const marl::event& e) {
        if (done) return;
        if (e.kind == marl::event_kind::Tree) open.emplace_back(e.name);
        if (e.kind == marl::event_kind::End && !open.empty()) open.pop_back();
        if (e.kind != marl::event_kind::Leaf) return;
        done = true;
        for (const std::string& name : open) found += name + "/";
        found += std::string(e.name);
        if (found.find_first_of("[\\") != std::string::npos) found.clear();
    });
    return found;
}

}  // namespace bench

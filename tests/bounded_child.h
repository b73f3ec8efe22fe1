// Child processes that a test starts, bounded: every file they write is capped, their
// processor time too, and the test stops waiting (and kills them) after twice that time on the
// clock, so that a looping program fails its test instead of filling the disk or hanging.
#ifndef MARLLIB_TESTS_BOUNDED_CHILD_H
#define MARLLIB_TESTS_BOUNDED_CHILD_H

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace marltest {

// In the child, before it runs its program: a process group of its own, so that it can be
// killed whole, and the caps.
inline void LimitThisChild(rlim_t fileBytes, rlim_t seconds) {
    setpgid(0, 0);
    const rlimit bytes{fileBytes, fileBytes};
    const rlimit cpu{seconds, seconds};
    setrlimit(RLIMIT_FSIZE, &bytes);
    setrlimit(RLIMIT_CPU, &cpu);
}

// Waits for child, killing its process group once `seconds` twice over have passed on the
// clock. Its exit status, or -1 when it did not exit on its own (or was never started).
inline int WaitBounded(pid_t child, rlim_t seconds) {
    if (child < 0) return -1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(2 * static_cast<long>(seconds));
    int raw = 0;
    while (waitpid(child, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-child, SIGKILL);
            waitpid(child, &raw, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

}  // namespace marltest

#endif  // MARLLIB_TESTS_BOUNDED_CHILD_H

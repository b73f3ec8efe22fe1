// The writer's system calls, as strace sees them during one Document::save over an existing
// file: the new file is made with O_CREAT | O_EXCL, all its bytes are written before it is
// synced, it is synced before it is renamed over the target, and the folder is synced after.
// The program runs itself under strace; it skips where strace is missing or may not trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bounded_child.h"
#include "marllib.hpp"

namespace {

constexpr const char* kSaveOnce = "--save-once";
constexpr rlim_t kMostBytesWritten = 16 << 20;  // per file: the trace, the saved file
constexpr rlim_t kMostSeconds = 60;

// A document of some 40 kB, so that stdio writes it in several pieces.
marl::Document Sample() {
    marl::Document doc = marl::Document::create();
    for (int i = 0; i < 1000; ++i) {
        doc.add_leaf(marl::Document::root, "leaf", "value " + std::to_string(i));
    }
    return doc;
}

// The first `most` bytes of a file.
std::string Head(const std::string& path, std::size_t most = 8 << 20) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(most, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(most));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::optional<std::string> FindProgram(const std::string& name) {
    const char* const path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// Runs argv with its files capped and its standard error in errors; its exit status, or -1
// when it did not exit on its own within the time allowed.
int RunBounded(const std::vector<std::string>& argv, const std::string& errors) {
    const pid_t child = fork();
    if (child == 0) {
        marltest::LimitThisChild(kMostBytesWritten, kMostSeconds);
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) dup2(fd, STDERR_FILENO);
        // LeakSanitizer stops the program to look for leaks through ptrace, which a traced
        // program cannot; the saves of the other tests are checked for leaks.
        const char* const asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return marltest::WaitBounded(child, kMostSeconds);
}

// One line of strace's log: "PID name(arguments)   = result".
struct Call {
    std::string name;
    std::string arguments;
    long long result = -1;

    // The quoted strings among the arguments: the paths of an open or a rename.
    std::vector<std::string> paths() const {
        std::vector<std::string> found;
        for (std::size_t at = arguments.find('"'); at != std::string::npos;) {
            const std::size_t end = arguments.find('"', at + 1);
            if (end == std::string::npos) break;
            found.push_back(arguments.substr(at + 1, end - at - 1));
            at = arguments.find('"', end + 1);
        }
        return found;
    }
    // The descriptor that a write, a sync or a close is made on.
    long long descriptor() const { return std::atoll(arguments.c_str()); }
    bool on(const char* call, long long fd) const { return name == call && descriptor() == fd; }
};

std::vector<Call> ReadTrace(const std::string& log) {
    std::vector<Call> calls;
    std::istringstream lines(Head(log));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t name = line.find_first_not_of("0123456789 ");
        const std::size_t open = line.find('(', name);
        const std::size_t result = line.rfind(" = ");
        const std::size_t close = line.rfind(')', result);
        if (name == std::string::npos || open == std::string::npos ||
            result == std::string::npos || close == std::string::npos || close < open) {
            continue;  // a signal, an exit, or a call that did not finish
        }
        calls.push_back({line.substr(name, open - name), line.substr(open + 1, close - open - 1),
                         std::atoll(line.c_str() + result + 3)});
    }
    return calls;
}

TEST(ReplaceFileTrace, WritesSyncsAndRenamesInThatOrder) {
    const std::optional<std::string> strace = FindProgram("strace");
    if (!strace) GTEST_SKIP() << "strace is not installed";
    char pattern[] = "/tmp/marllib-trace-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string target = folder + "/doc.marl";
    const std::string log = folder + "/trace.log";
    const std::string errors = folder + "/trace.err";
    std::ofstream(target) << "<old/>\n";
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);

    const int status = RunBounded({*strace, "-f", "-qq", "-o", log, "-e",
                                   "trace=%file,write,fsync,fdatasync,close", self, kSaveOnce,
                                   target},
                                  errors);
    const std::string said = Head(errors, 4096);
    const std::vector<Call> calls = ReadTrace(log);
    const std::string saved = Head(target);
    std::system(("rm -rf '" + folder + "'").c_str());
    if (status != 0 && said.find("ptrace") != std::string::npos) {
        GTEST_SKIP() << "strace may not trace here: " << said;
    }
    ASSERT_EQ(status, 0) << said;
    ASSERT_EQ(saved, Sample().to_string());

    // The new file beside the target, made exclusively.
    const std::string prefix = folder + "/.doc.marl.";
    std::size_t made = 0;
    while (made < calls.size() &&
           !(calls[made].name.rfind("open", 0) == 0 && !calls[made].paths().empty() &&
             calls[made].paths()[0].rfind(prefix, 0) == 0)) {
        ++made;
    }
    ASSERT_LT(made, calls.size()) << "no new file was made beside " << target;
    const Call& opened = calls[made];
    EXPECT_NE(opened.arguments.find("O_CREAT"), std::string::npos) << opened.arguments;
    EXPECT_NE(opened.arguments.find("O_EXCL"), std::string::npos) << opened.arguments;
    const long long fd = opened.result;
    const std::string temporary = opened.paths()[0];
    ASSERT_GE(fd, 0);

    // Its bytes, all of them before its sync; then its close, and the rename after the sync.
    std::size_t at = made + 1;
    long long written = 0;
    for (; at < calls.size() && !calls[at].on("close", fd); ++at) {
        if (calls[at].on("write", fd)) written += calls[at].result;
        if (calls[at].on("fsync", fd) || calls[at].on("fdatasync", fd)) break;
    }
    ASSERT_LT(at, calls.size());
    EXPECT_EQ(written, static_cast<long long>(saved.size())) << "bytes written before the sync";
    ASSERT_TRUE(calls[at].on("fsync", fd) || calls[at].on("fdatasync", fd))
        << "closed without a sync";
    std::size_t renamed = at + 1;
    while (renamed < calls.size() && calls[renamed].name.find("rename") == std::string::npos) {
        EXPECT_FALSE(calls[renamed].on("write", fd)) << "a write after the sync";
        ++renamed;
    }
    ASSERT_LT(renamed, calls.size()) << "no rename after the sync";
    EXPECT_EQ(calls[renamed].paths(), (std::vector<std::string>{temporary, target}));
    EXPECT_EQ(calls[renamed].result, 0);

    // The folder, opened and synced once the rename is done.
    std::size_t synced = renamed + 1;
    long long folder_fd = -1;
    for (; synced < calls.size(); ++synced) {
        const Call& call = calls[synced];
        if (call.name.rfind("open", 0) == 0 && call.paths() == std::vector<std::string>{folder}) {
            folder_fd = call.result;
        }
        if (folder_fd >= 0 && (call.on("fsync", folder_fd) || call.on("fdatasync", folder_fd))) {
            break;
        }
    }
    EXPECT_LT(synced, calls.size()) << "the folder was not synced after the rename";
}

}  // namespace

// Run as `PROGRAM --save-once PATH`, it saves the sample over PATH and does nothing else, for
// strace to watch.
int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kSaveOnce) == 0) {
        Sample().save(argv[2]);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

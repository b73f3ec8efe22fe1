// marllib_Load on paths that only a POSIX system makes cheap to build: directories, a FIFO,
// a file of /proc, and a count of the open file descriptors around loads.
#include "marllib.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

class LoadPosix : public ::testing::Test {
protected:
    void SetUp() override {
        marllib_Close();
        char pattern[] = "/tmp/marllib_load_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        marllib_Close();
        for (const std::string& file : files) unlink(file.c_str());
        rmdir(folder.c_str());
    }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        FILE* out = std::fopen(path.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        if (out != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        files.push_back(path);
        return path;
    }

    // A file of size bytes that takes no room on disk: all zero bytes, never written.
    std::string Sparse(const std::string& name, off_t size) {
        const std::string path = WriteFile(name, "");
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return path;
    }

    std::string folder;
    std::vector<std::string> files;
};

// The number of file descriptors this process has open, or -1 where that cannot be listed.
int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

std::string Leaves(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "<leaf" + std::to_string(i) + "=\"v\">\n";
    return text;
}

// A path is read to its end whatever size it claims: none for a FIFO, 0 for a file of /proc,
// a huge one (ext4) or a failing seek (tmpfs) for a directory. What it delivers is the
// document; what cannot be read gives -1 and takes no handle.
TEST_F(LoadPosix, EveryKindOfPathGivesWhatItDelivers) {
    const std::string leaves = Leaves(20000);  // more than a pipe holds and a first buffer
    const std::string fifo = folder + "/fifo.marl";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files.push_back(fifo);
    // A file of /proc that reports a size of 0: the process's own name, set to Marl text.
    char name[32] = {};
    FILE* const comm = std::fopen("/proc/self/comm", "r+");
    ASSERT_NE(comm, nullptr);
    ASSERT_NE(std::fgets(name, sizeof name, comm), nullptr);
    name[std::strcspn(name, "\n")] = '\0';
    ASSERT_EQ(std::fseek(comm, 0, SEEK_SET), 0);
    ASSERT_GE(std::fputs("<a/>\n<b=\"x\">", comm), 0);
    std::fclose(comm);

    const struct {
        const char* kind;
        std::string path;
        int32_t tags;  // in the root collection; -1: no document, and errno says why
        int error;
    } paths[] = {
        {"regular file", WriteFile("regular.marl", leaves), 20000, 0},
        {"empty file", WriteFile("empty.marl", ""), 0, 0},
        {"file of /proc with a size of 0", "/proc/self/comm", 2, 0},
        {"FIFO", fifo, 20000, 0},
        {"directory", folder, -1, EISDIR},
        {"directory with a slash", folder + "/", -1, EISDIR},
        {"ext4 or overlay directory", "/", -1, EISDIR},
        {"proc directory", "/proc", -1, EISDIR},
        {"proc directory of a process", "/proc/self", -1, EISDIR},
        {"devtmpfs directory", "/dev", -1, EISDIR},
        {"tmpfs directory", "/dev/shm", -1, EISDIR},
        {"missing file", folder + "/missing.marl", -1, ENOENT},
        {"a path through a file", WriteFile("plain.marl", "<a/>") + "/x.marl", -1, ENOTDIR},
        {"sparse file of 2^31 bytes", Sparse("huge.marl", off_t{1} << 31), -1, EFBIG},
    };
    // The FIFO's writer blocks until the FIFO is opened to be read.
    std::thread writer([&] {
        FILE* const out = std::fopen(fifo.c_str(), "wb");
        if (out == nullptr) return;
        std::fwrite(leaves.data(), 1, leaves.size(), out);
        std::fclose(out);
    });
    int32_t documents = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path.kind);
        errno = 0;
        const int32_t handle = marllib_Load(path.path.c_str(), 0);
        if (path.tags < 0) {
            EXPECT_EQ(handle, MARLLIB_LOAD_UNREADABLE);
            EXPECT_EQ(errno, path.error) << std::strerror(errno);
            continue;
        }
        EXPECT_EQ(handle, documents++);
        EXPECT_EQ(marllib_GetTags(handle, MARLLIB_ROOT, nullptr, 0), path.tags);
    }
    writer.join();
    EXPECT_EQ(marllib_Create(), documents);  // the failed loads took no handle

    FILE* const restore = std::fopen("/proc/self/comm", "w");
    if (restore != nullptr) {
        std::fputs(name, restore);
        std::fclose(restore);
    }
}

TEST_F(LoadPosix, EveryFileLoadClosesItsStream) {
    const int before = OpenDescriptors();
    if (before < 0) GTEST_SKIP() << "no /proc/self/fd on this system";
    const std::string good = WriteFile("good.marl", "<a>\n  <b=\"1\">\n</>\n");
    const std::string empty = WriteFile("empty.marl", "");
    const std::string tiny = WriteFile("tiny.marl", "<a>");
    const std::string broken = WriteFile("broken.marl", "<a=\"v\"x>\n<b/>\n");
    for (int round = 0; round < 3; ++round) {
        EXPECT_GE(marllib_Load(good.c_str(), 0), 0);
        EXPECT_GE(marllib_Load(empty.c_str(), 0), 0);
        EXPECT_GE(marllib_Load(tiny.c_str(), 0), 0);
        EXPECT_GE(marllib_Load(broken.c_str(), 0), 0);
        EXPECT_EQ(marllib_Load(folder.c_str(), 0), MARLLIB_LOAD_UNREADABLE);
        EXPECT_EQ(marllib_Load((folder + "/missing.marl").c_str(), 0), MARLLIB_LOAD_UNREADABLE);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace

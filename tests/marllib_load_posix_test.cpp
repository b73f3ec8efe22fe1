// marllib_Load on paths that only a POSIX system makes cheap to build: a directory, a pipe
// whose size cannot be found, and a count of the open file descriptors around loads.
#include "marllib.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
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

TEST_F(LoadPosix, DirectoryIsNoFile) {
    ASSERT_EQ(marllib_Create(), 0);
    EXPECT_EQ(marllib_Load(folder.c_str(), 0), -1);
    EXPECT_EQ(marllib_Load((folder + "/").c_str(), -1), -1);
    // File systems answer differently for a directory: a huge size (ext4), a size of 0 and
    // a failing read (proc), or a failing seek (tmpfs). None of them gives a document.
    for (const char* directory : {"/", "/proc", "/proc/self", "/dev", "/dev/shm"}) {
        SCOPED_TRACE(directory);
        EXPECT_EQ(marllib_Load(directory, 0), -1);
    }
    EXPECT_EQ(marllib_Create(), 1);  // the failed loads took no handle
}

TEST_F(LoadPosix, FileWhoseSizeCannotBeFoundGivesNothing) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string text = "<a/>\n<b/>\n";
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
    // A pipe opened by path: it can be read but not searched for its end.
    const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
    if (access(path.c_str(), R_OK) != 0) {
        close(ends[0]);
        GTEST_SKIP() << "no /proc/self/fd on this system";
    }
    EXPECT_EQ(marllib_Load(path.c_str(), 0), -1);
    close(ends[0]);
    EXPECT_EQ(marllib_Create(), 0);
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
        EXPECT_EQ(marllib_Load(folder.c_str(), 0), -1);
        EXPECT_EQ(marllib_Load((folder + "/missing.marl").c_str(), 0), -1);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace

// The targets that a file writer meets, as one table for every writer: marl print -o and
// marl::Document::save both run it. Each row makes its target in a folder of its own, writes,
// and checks the bytes, the mode, the owner, the links and what else the folders hold, and the
// message.
#ifndef MARLLIB_TESTS_FILE_WRITER_CASES_H
#define MARLLIB_TESTS_FILE_WRITER_CASES_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace marltest {

namespace fs = std::filesystem;

// Writes printed text to target, its file writes capped at limit bytes (0: none); returns the
// reason it gives for a failure, as the system words it, or nothing when it succeeded.
using FileWriter = std::function<std::optional<std::string>(const std::string& target,
                                                            rlim_t limit)>;

inline std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void Put(const fs::path& path, const std::string& bytes, fs::perms mode) {
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, mode);
}

inline std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Makes a folder refuse new files, or a file refuse writes, also to root (through the
// immutable flag), and says with what reason; nothing when this system cannot.
inline std::optional<std::string> MakeReadOnly(const fs::path& path) {
    if (geteuid() != 0) {
        fs::permissions(path, fs::is_directory(path) ? fs::perms::owner_read | fs::perms::owner_exec
                                                     : fs::perms::owner_read);
        return std::string(std::strerror(EACCES));
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    const bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) close(fd);
    if (!set) return std::nullopt;
    return std::string(std::strerror(EPERM));
}

// Takes the immutable flag away, and gives a folder its owner's rights back.
inline void UndoReadOnly(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) close(fd);
    if (fs::is_directory(path)) fs::permissions(path, fs::perms::owner_all);
}

inline fs::perms NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<fs::perms>(0666 & ~mask);
}

// The links that a row makes, each with what it names: they must stay exactly so.
using Links = std::vector<std::pair<fs::path, fs::path>>;

inline void Link(Links& links, const fs::path& link, const fs::path& names) {
    fs::create_symlink(names, link);
    links.emplace_back(link, names);
}

// Runs every target through write, which must write `printed` when it succeeds.
inline void RunFileWriterTable(const FileWriter& write, const std::string& printed) {
    enum class Target { New, Existing, Link, LinkElsewhere, ReadOnlyFolder, ReadOnlyFile, Folder,
                        TooLarge, TooLargeNew, LinkChain, LinkLoop, LinkToItself, DanglingLink,
                        SpecialBits, OtherOwner };
    struct Row {
        const char* what;
        Target target;
    };
    const Row rows[] = {
        {"a new file", Target::New},
        {"an existing file of mode 0600", Target::Existing},
        {"a symbolic link to a file", Target::Link},
        {"a link in a folder other than its target's", Target::LinkElsewhere},
        {"a file in a read-only folder", Target::ReadOnlyFolder},
        {"a read-only file in a folder open to writes", Target::ReadOnlyFile},
        {"a folder", Target::Folder},
        {"an existing file, beyond the file size limit", Target::TooLarge},
        {"a new file, beyond the file size limit", Target::TooLargeNew},
        {"a link to a link to a file", Target::LinkChain},
        {"a loop of two links", Target::LinkLoop},
        {"a link to itself", Target::LinkToItself},
        {"a link to a file not there yet", Target::DanglingLink},
        {"a set-user-ID, set-group-ID and sticky file", Target::SpecialBits},
        {"a set-user-ID file of another owner and group", Target::OtherOwner},
    };
    const std::string old = "<old/>\n";
    const auto owner_only = fs::perms::owner_read | fs::perms::owner_write;
    const auto group_too = owner_only | fs::perms::group_read;
    const auto special = fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit |
                         fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec;
    const auto set_ids = fs::perms::set_uid | fs::perms::set_gid | fs::perms::owner_all |
                         fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read;
    constexpr uid_t kOtherOwner = 12345;
    constexpr gid_t kOtherGroup = 12345;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        char pattern[] = "/tmp/marllib-writer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const fs::path top = pattern;
        const fs::path here = top / "here";
        const fs::path there = top / "there";
        fs::create_directory(here);
        fs::create_directory(there);

        // What the row writes to, the file that then holds the text, and what is expected.
        fs::path target = here / "file.marl";
        fs::path file = target;
        std::string bytes = printed;
        std::optional<fs::perms> mode = NewFileMode();
        std::optional<std::string> reason;
        rlim_t limit = 0;
        fs::path readOnly;
        Links links;
        bool made = true;  // a file holds the bytes afterwards
        std::optional<std::pair<uid_t, gid_t>> owner;
        switch (row.target) {
            case Target::New:
                break;
            case Target::Existing:
                Put(file, old, owner_only);
                mode = owner_only;
                break;
            case Target::Link:
                Put(file, old, group_too);
                target = here / "link.marl";
                Link(links, target, "file.marl");
                mode = group_too;
                break;
            case Target::LinkElsewhere:
                file = there / "file.marl";
                Put(file, old, owner_only);
                target = here / "link.marl";
                Link(links, target, "../there/file.marl");
                mode = owner_only;
                break;
            case Target::ReadOnlyFolder:
            case Target::ReadOnlyFile:
                Put(file, old, group_too);
                readOnly = row.target == Target::ReadOnlyFile ? file : here;
                reason = MakeReadOnly(readOnly);
                if (!reason) {
                    std::printf("skipped: %s (no folder here refuses new files)\n", row.what);
                    UndoReadOnly(readOnly);
                    fs::remove_all(top);
                    continue;
                }
                // What must change is named: the folder, where it refuses the new file.
                if (row.target == Target::ReadOnlyFolder) {
                    reason = "cannot make a new file in " + here.string() + ": " + *reason;
                }
                bytes = old;
                mode = fs::status(file).permissions() & fs::perms::mask;
                break;
            case Target::Folder:
                target = file = here / "sub";
                fs::create_directory(target);
                reason = std::strerror(EISDIR);
                made = false;
                break;
            case Target::TooLarge:
                Put(file, old, owner_only);
                limit = 1024;
                reason = std::strerror(EFBIG);
                bytes = old;
                mode = owner_only;
                break;
            case Target::TooLargeNew:
                limit = 1024;
                reason = std::strerror(EFBIG);
                made = false;
                break;
            case Target::LinkChain:
                Put(file, old, group_too);
                Link(links, here / "link1.marl", "file.marl");
                target = here / "link2.marl";
                Link(links, target, "link1.marl");
                mode = group_too;
                break;
            case Target::LinkLoop:
                target = file = here / "a.marl";
                Link(links, target, "b.marl");
                Link(links, here / "b.marl", "a.marl");
                reason = std::strerror(ELOOP);
                made = false;
                break;
            case Target::LinkToItself:
                target = file = here / "self.marl";
                Link(links, target, "self.marl");
                reason = std::strerror(ELOOP);
                made = false;
                break;
            case Target::DanglingLink:
                target = here / "link.marl";
                Link(links, target, "file.marl");
                break;
            case Target::SpecialBits:
                Put(file, old, special);
                mode = special;
                break;
            case Target::OtherOwner:
                Put(file, old, set_ids);
                if (chown(file.c_str(), kOtherOwner, kOtherGroup) != 0) {
                    std::printf("skipped: %s (only root gives files away)\n", row.what);
                    fs::remove_all(top);
                    continue;
                }
                fs::permissions(file, set_ids);  // chown took the set-ID bits away
                mode = set_ids;
                owner = std::make_pair(kOtherOwner, kOtherGroup);
                break;
        }
        const std::vector<std::string> before[] = {Names(here), Names(there)};

        EXPECT_EQ(write(target.string(), limit), reason);
        if (!readOnly.empty()) UndoReadOnly(readOnly);

        if (made) {
            EXPECT_EQ(Contents(file), bytes);
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask, *mode);
        } else {
            EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(file)));
        }
        if (owner) {
            struct stat status {};
            ASSERT_EQ(stat(file.c_str(), &status), 0);
            EXPECT_EQ(std::make_pair(status.st_uid, status.st_gid), *owner);
        }
        for (const auto& [link, names] : links) {
            EXPECT_TRUE(fs::is_symlink(link)) << link;
            if (fs::is_symlink(link)) {
                EXPECT_EQ(fs::read_symlink(link), names) << link;
            }
        }
        // Nothing beside what was there, but the new file where one was made: no temporary
        // file is left, in either folder.
        std::vector<std::string> expected = before[0];
        if (row.target == Target::New) expected = {"file.marl"};
        if (row.target == Target::DanglingLink) expected = {"file.marl", "link.marl"};
        EXPECT_EQ(Names(here), expected);
        EXPECT_EQ(Names(there), before[1]);
        if (row.target == Target::Folder) {
            EXPECT_TRUE(fs::is_empty(file));
        }
        fs::remove_all(top);
    }
}

}  // namespace marltest

#endif  // MARLLIB_TESTS_FILE_WRITER_CASES_H
